// The real program as a user meets it under Xvfb on a private test LAN, with
// the test time server on its own host.

#include "e2eharness.h"
#include "e2emain.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QTest>

using namespace E2E;

namespace {
const char kMainTitle[] = "^Tavrin Pellum$";
const char kAlertTitle[] = "^Tavrin Pellum: clock alert$";

} // namespace

class TstE2eProgram : public QObject {
    Q_OBJECT
public:
    explicit TstE2eProgram(const NetLan::Lan& lan)
        : lan(lan)
    {
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void loginStartWithWatchingOffOpensWindowAndClosingQuits();
    void loginStartBehindLastSyncShowsAlertOnlyAndSecondLaunchBringsBoth();
    void loginStartWhileWatchingStaysHiddenUntilSecondLaunch();
    void clockSteppedBackRaisesAlertUntilTheClockPassesLastSync();
    void terminationSaysGoodbyeOnceAndStoresLastSync();

private:
    std::unique_ptr<Program> launch(const QStringList& args = {}, bool fakeTime = false);
    bool visible(const char* title) const { return !display.visibleWindows(QLatin1String(title)).isEmpty(); }
    bool closeWindow(const char* title) const
    {
        return display.requestClose(display.visibleWindows(QLatin1String(title)).value(0));
    }

    NetLan::Lan lan;
    VirtualDisplay display;
    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<TestServer> server;
    QTemporaryDir work;
};

void TstE2eProgram::initTestCase()
{
    QVERIFY2(QFile::exists(programPath()) && QFile::exists(testServerPath()), "program or test server not built");
    QVERIFY2(!closeHelperPath().isEmpty(), "pellum-x11-close not built");
    QVERIFY(lan.isValid());
    // With a notification area, where a login start while watching shows only the lamp.
    QVERIFY2(display.start(work.path(), true), "Xvfb or wmsystemtray did not start");
}

void TstE2eProgram::init()
{
    sandbox = std::make_unique<Sandbox>();
    sandbox->writeSetupRecord(lan.serverAddr.value(0));
    server = std::make_unique<TestServer>(lan.serverNs.value(0), lan.serverAddr.value(0));
    QVERIFY(server->start());
}

void TstE2eProgram::cleanup()
{
    server.reset();
    sandbox.reset();
}

std::unique_ptr<Program> TstE2eProgram::launch(const QStringList& args, bool fakeTime)
{
    QProcessEnvironment env = sandbox->environment();
    env.insert(QStringLiteral("DISPLAY"), display.name());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("XAUTHORITY"));
    if (fakeTime && !Sandbox::addFakeTime(&env, sandbox->path("faketime")))
        return nullptr;
    auto program = std::make_unique<Program>(sandbox->installProgram(), env, sandbox->path("program.log"));
    return program->start(args) ? std::move(program) : nullptr;
}

void TstE2eProgram::loginStartWithWatchingOffOpensWindowAndClosingQuits()
{
    // A login start of a user who does not watch left the program with no window at all.
    auto program = launch({QStringLiteral("--login")});
    QVERIFY(program);
    QVERIFY2(waitFor([&] { return visible(kMainTitle); }, 30000), qPrintable(program->log()));
    QVERIFY(!visible(kAlertTitle));
    QVERIFY(waitFor([&] { return sandbox->setting("menuBar/watch").isValid(); }, 10000));
    QCOMPARE(sandbox->setting("menuBar/watch").toBool(), false);
    QTest::qWait(2500);
    QVERIFY(server->reports().isEmpty()); // not watching: nothing reported
    QVERIFY(closeWindow(kMainTitle));
    QCOMPARE(program->waitForExit(20000), 0);
}

void TstE2eProgram::loginStartBehindLastSyncShowsAlertOnlyAndSecondLaunchBringsBoth()
{
    // The alert failed to come up at login, or a second launch failed to reach a hidden first instance.
    sandbox->writeSettings({{"menuBar/watch", true},
                            {"clock/lastSyncUtcMs", QDateTime::currentMSecsSinceEpoch() + 120000}});
    auto first = launch({QStringLiteral("--login")});
    QVERIFY(first);
    QVERIFY2(waitFor([&] { return visible(kAlertTitle); }, 30000), qPrintable(first->log()));
    QVERIFY(waitFor([&] { return server->hasReported("wrong"); }, 15000));
    QVERIFY(!visible(kMainTitle));
    QVERIFY(closeWindow(kAlertTitle));
    QVERIFY(waitFor([&] { return !visible(kAlertTitle); }, 10000));

    auto second = launch();
    QVERIFY(second);
    QCOMPARE(second->waitForExit(15000), 0);
    QVERIFY(waitFor([&] { return visible(kMainTitle) && visible(kAlertTitle); }, 15000));
    first->terminate();
    QCOMPARE(first->waitForExit(20000), 0);
}

void TstE2eProgram::loginStartWhileWatchingStaysHiddenUntilSecondLaunch()
{
    // A login start while watching showed no lamp, put the main window in the user's face, or never showed it when asked.
    sandbox->writeSettings({{"menuBar/watch", true}});
    auto first = launch({QStringLiteral("--login")});
    QVERIFY(first);
    QVERIFY2(waitFor([&] { return !server->reports().isEmpty() && display.lampShown(); }, 20000),
             qPrintable(first->log()));
    QVERIFY(!visible(kMainTitle) && !visible(kAlertTitle));
    auto second = launch({QStringLiteral("--login")});
    QVERIFY(second);
    QCOMPARE(second->waitForExit(15000), 0);
    QVERIFY(waitFor([&] { return visible(kMainTitle); }, 15000));
    QVERIFY(!visible(kAlertTitle));
    first->terminate();
    QCOMPARE(first->waitForExit(20000), 0);
}

void TstE2eProgram::clockSteppedBackRaisesAlertUntilTheClockPassesLastSync()
{
    // A clock stepped back behind its last sync went unnoticed, or the alert stayed after it passed it again.
    Sandbox::writeFakeTimeOffset(sandbox->path("faketime"), "+0");
    sandbox->writeSettings({{"menuBar/watch", true}});
    auto program = launch({QStringLiteral("--login")}, true);
    QVERIFY2(program, "libfaketime missing");
    QVERIFY2(waitFor([&] { return server->hasReported("sync"); }, 30000), qPrintable(program->log()));
    QVERIFY(!visible(kAlertTitle));
    Sandbox::writeFakeTimeOffset(sandbox->path("faketime"), "-5");
    QVERIFY2(waitFor([&] { return visible(kAlertTitle); }, 15000), qPrintable(program->log()));
    QVERIFY(waitFor([&] { return server->hasReported("wrong"); }, 10000));
    QVERIFY(waitFor([&] { return !visible(kAlertTitle); }, 30000));
    QVERIFY(program->isRunning());
    program->terminate();
    QCOMPARE(program->waitForExit(20000), 0);
}

void TstE2eProgram::terminationSaysGoodbyeOnceAndStoresLastSync()
{
    // SIGTERM lost the goodbye report, sent it twice, or left the stored last sync 30 s stale.
    sandbox->writeSettings({{"menuBar/watch", true}});
    auto program = launch({QStringLiteral("--login")});
    QVERIFY(program);
    QVERIFY2(waitFor([&] { return server->hasReported("sync"); }, 30000), qPrintable(program->log()));
    QTest::qWait(1500);
    program->terminate();
    const qint64 endedAt = QDateTime::currentMSecsSinceEpoch();
    QCOMPARE(program->waitForExit(20000), 0);
    QVERIFY(waitFor([&] { return server->goodbyes() >= 1; }, 5000));
    QTest::qWait(500);
    QCOMPARE(server->goodbyes(), 1);
    const qint64 stored = sandbox->setting("clock/lastSyncUtcMs").toLongLong();
    QVERIFY2(stored > endedAt - 5000 && stored <= endedAt + 2000,
             qPrintable(QStringLiteral("stored %1, ended %2").arg(stored).arg(endedAt)));
}

PELLUM_E2E_MAIN(TstE2eProgram, QCoreApplication)

#include "tst_e2e_program.moc"
