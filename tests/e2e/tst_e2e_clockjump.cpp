// The real program in sync with the test server while libfaketime sets its
// clock an hour ahead for a moment and then puts it right.

#include "e2eharness.h"
#include "e2emain.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTest>

using namespace E2E;

class TstE2eClockJump : public QObject {
    Q_OBJECT
public:
    explicit TstE2eClockJump(const NetLan::Lan& lan)
        : lan(lan)
    {
    }

private slots:
    void forwardJumpNeverBecomesLastSync();

private:
    NetLan::Lan lan;
};

void TstE2eClockJump::forwardJumpNeverBecomesLastSync()
{
    // Fault: a clock set forward for a moment was stored as the last sync, so every later start was Wrong.
    QVERIFY2(QFile::exists(programPath()), "PELLUM_PROGRAM not built");
    Sandbox sandbox;
    sandbox.writeSetupRecord(lan.serverAddr.value(0));
    sandbox.writeSettings({{"menuBar/watch", true}});   // reports show the program's state
    TestServer server(lan.serverNs.value(0), lan.serverAddr.value(0));
    QVERIFY(server.start());
    const QString offsetFile = sandbox.path("faketime");
    QProcessEnvironment env = sandbox.environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!Sandbox::addFakeTime(&env, offsetFile))
        QSKIP("libfaketime not installed");
    Sandbox::writeFakeTimeOffset(offsetFile, "+0");
    Program program(sandbox.installProgram(), env, sandbox.path("program.log"));
    QVERIFY(program.start({QStringLiteral("--login")}));
    const auto lastState = [&] { return server.reports().value(server.reports().size() - 1).value("state").toString(); };
    QVERIFY2(waitFor([&] { return lastState() == QLatin1String("sync"); }, 30000), qPrintable(program.log()));

    Sandbox::writeFakeTimeOffset(offsetFile, "+3600");
    QTest::qWait(2500);
    Sandbox::writeFakeTimeOffset(offsetFile, "+0");
    const int before = int(server.reports().size());
    waitFor([&] { return server.reports().size() > before && lastState() == QLatin1String("sync"); }, 5000);
    program.terminate();
    QCOMPARE(program.waitForExit(20000), 0);

    // The stored last sync must not lie in the future: the next start would be Wrong.
    const qint64 stored = sandbox.setting(QStringLiteral("clock/lastSyncUtcMs")).toLongLong();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QVERIFY2(stored > 0 && stored <= now + 1000, qPrintable(QStringLiteral("stored %1 ms ahead").arg(stored - now)));
}

PELLUM_E2E_MAIN(TstE2eClockJump, QCoreApplication)

#include "tst_e2e_clockjump.moc"
