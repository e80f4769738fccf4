// The real program as a user meets it: started, shown, asked to close,
// launched twice, started at login, its clock stepped back, under Xvfb on a
// private test LAN with the test time server on its own host.

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

bool hasState(const QList<QJsonObject>& reports, const QString& word)
{
    for (const QJsonObject& r : reports) {
        if (r.value(QLatin1String("state")).toString() == word)
            return true;
    }
    return false;
}
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
    void firstStartShowsWindowAndClosingQuits();
    void loginStartWithClockBehindRaisesAlertOnly();
    void secondLaunchBringsWindowsUpAndExitsZero();
    void loginStartWhileWatchingShowsNoWindowUntilAsked();
    void loginStartWithWatchingOffOpensWindow();
    void clockSteppedBackOpensAlertAndLaterStateHidesIt();
    void terminationSaysGoodbyeOnceAndKeepsLastSync();

private:
    QProcessEnvironment programEnvironment() const;
    std::unique_ptr<Program> launch(const QStringList& args = {},
                                    const QProcessEnvironment& extra = QProcessEnvironment());
    bool visible(const char* title) const { return !display.visibleWindows(QLatin1String(title)).isEmpty(); }

    NetLan::Lan lan;
    VirtualDisplay display;
    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<TestServer> server;
    QTemporaryDir work;
};

void TstE2eProgram::initTestCase()
{
    QVERIFY2(!programPath().isEmpty() && QFile::exists(programPath()), "PELLUM_PROGRAM not built");
    QVERIFY2(QFile::exists(testServerPath()), "PELLUM_TEST_SERVER not built");
    QVERIFY(lan.isValid());
    QVERIFY2(display.start(work.path()), "Xvfb did not start");
}

void TstE2eProgram::init()
{
    sandbox = std::make_unique<Sandbox>();
    QVERIFY(sandbox->isValid());
    sandbox->writeSetupRecord(lan.serverAddr.value(0));
    server = std::make_unique<TestServer>(lan.serverNs.value(0), lan.serverAddr.value(0), sandbox->path());
    QVERIFY2(server->start(), qPrintable(server->errors()));
}

void TstE2eProgram::cleanup()
{
    server.reset();
    sandbox.reset();
}

QProcessEnvironment TstE2eProgram::programEnvironment() const
{
    QProcessEnvironment env = sandbox->environment();
    env.insert(QStringLiteral("DISPLAY"), display.name());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("XAUTHORITY"));
    return env;
}

std::unique_ptr<Program> TstE2eProgram::launch(const QStringList& args, const QProcessEnvironment& extra)
{
    QProcessEnvironment env = programEnvironment();
    for (const QString& key : extra.keys())
        env.insert(key, extra.value(key));
    auto program = std::make_unique<Program>(sandbox->installProgram(), env, sandbox->path("program.log"));
    if (!program->start(args))
        return nullptr;
    return program;
}

void TstE2eProgram::firstStartShowsWindowAndClosingQuits()
{
    auto program = launch();
    QVERIFY(program);
    QVERIFY2(waitFor([&] { return visible(kMainTitle); }, 30000), qPrintable(program->log()));
    // First start ever: watching is off, and stays recorded as off.
    QVERIFY(waitFor([&] { return sandbox->setting("menuBar/watch").isValid(); }, 10000));
    QCOMPARE(sandbox->setting("menuBar/watch").toBool(), false);
    QVERIFY(!visible(kAlertTitle));
    // No tray and no reporting: the server hears no status report.
    QTest::qWait(2500);
    QVERIFY(server->reports().isEmpty());

    if (closeHelperPath().isEmpty())
        QSKIP("pellum-x11-close not built (libX11 headers missing)");
    const QStringList windows = display.visibleWindows(QLatin1String(kMainTitle));
    QVERIFY(!windows.isEmpty());
    QVERIFY(display.requestClose(windows.first()));
    QCOMPARE(program->waitForExit(20000), 0);
}

void TstE2eProgram::loginStartWithClockBehindRaisesAlertOnly()
{
    sandbox->writeSettings({{"menuBar/watch", true},
                            {"clock/lastSyncUtcMs", QDateTime::currentMSecsSinceEpoch() + 60000}});
    auto program = launch({QStringLiteral("--login")});
    QVERIFY(program);
    QVERIFY2(waitFor([&] { return visible(kAlertTitle); }, 30000), qPrintable(program->log()));
    // A login start with watching on keeps the main window away.
    QTest::qWait(1500);
    QVERIFY(!visible(kMainTitle));
    // Watching at start: the first report already says the clock is wrong.
    QVERIFY(waitFor([&] { return hasState(server->reports(), QStringLiteral("wrong")); }, 15000));
    program->terminate();
    QCOMPARE(program->waitForExit(20000), 0);
}

void TstE2eProgram::secondLaunchBringsWindowsUpAndExitsZero()
{
    if (closeHelperPath().isEmpty())
        QSKIP("pellum-x11-close not built (libX11 headers missing)");
    sandbox->writeSettings({{"menuBar/watch", true},
                            {"clock/lastSyncUtcMs", QDateTime::currentMSecsSinceEpoch() + 120000}});
    auto first = launch({QStringLiteral("--login")});
    QVERIFY(first);
    QVERIFY2(waitFor([&] { return visible(kAlertTitle); }, 30000), qPrintable(first->log()));
    // The user puts the alert away.
    QVERIFY(display.requestClose(display.visibleWindows(QLatin1String(kAlertTitle)).value(0)));
    QVERIFY(waitFor([&] { return !visible(kAlertTitle); }, 10000));
    QVERIFY(!visible(kMainTitle));
    QVERIFY(first->isRunning());

    auto second = launch();
    QVERIFY(second);
    QCOMPARE(second->waitForExit(15000), 0);
    // The first instance shows itself, and with the clock wrong the alert too.
    QVERIFY(waitFor([&] { return visible(kMainTitle) && visible(kAlertTitle); }, 15000));
    QVERIFY(first->isRunning());
    first->terminate();
    QCOMPARE(first->waitForExit(20000), 0);
}

void TstE2eProgram::loginStartWhileWatchingShowsNoWindowUntilAsked()
{
    sandbox->writeSettings({{"menuBar/watch", true}});
    auto first = launch({QStringLiteral("--login")});
    QVERIFY(first);
    // Comes up as a tray lamp only: it reports, and shows nothing.
    QVERIFY2(waitFor([&] { return !server->reports().isEmpty(); }, 20000), qPrintable(first->log()));
    QVERIFY(!visible(kMainTitle));
    QVERIFY(!visible(kAlertTitle));

    auto second = launch({QStringLiteral("--login")});
    QVERIFY(second);
    QCOMPARE(second->waitForExit(15000), 0);
    QVERIFY(waitFor([&] { return visible(kMainTitle); }, 15000));
    QVERIFY(!visible(kAlertTitle));
    first->terminate();
    QCOMPARE(first->waitForExit(20000), 0);
}

void TstE2eProgram::loginStartWithWatchingOffOpensWindow()
{
    // The login argument alone hides nothing.
    auto program = launch({QStringLiteral("--login")});
    QVERIFY(program);
    QVERIFY2(waitFor([&] { return visible(kMainTitle); }, 30000), qPrintable(program->log()));
    QVERIFY(!visible(kAlertTitle));
    program->terminate();
    QCOMPARE(program->waitForExit(20000), 0);
    QVERIFY(server->reports().isEmpty());
}

void TstE2eProgram::clockSteppedBackOpensAlertAndLaterStateHidesIt()
{
    const QString offsetFile = sandbox->path("faketime");
    QProcessEnvironment fake = programEnvironment();
    if (!Sandbox::addFakeTime(&fake, offsetFile))
        QSKIP("libfaketime not installed");
    Sandbox::writeFakeTimeOffset(offsetFile, "+0");
    sandbox->writeSettings({{"menuBar/watch", true}});
    auto program = launch({QStringLiteral("--login")}, fake);
    QVERIFY(program);
    QVERIFY2(waitFor([&] { return hasState(server->reports(), QStringLiteral("sync")); }, 30000),
             qPrintable(program->log()));
    QVERIFY(!visible(kAlertTitle));

    // Five seconds back: behind the last sync by more than 2 s.
    Sandbox::writeFakeTimeOffset(offsetFile, "-5");
    QVERIFY2(waitFor([&] { return visible(kAlertTitle); }, 15000), qPrintable(program->log()));
    QVERIFY(waitFor([&] { return hasState(server->reports(), QStringLiteral("wrong")); }, 10000));
    // The clock runs on past the old last sync: the state moves on and the alert goes.
    QVERIFY(waitFor([&] { return !visible(kAlertTitle); }, 30000));
    QVERIFY(!visible(kMainTitle));
    QVERIFY(program->isRunning());
    program->terminate();
    QCOMPARE(program->waitForExit(20000), 0);
}

void TstE2eProgram::terminationSaysGoodbyeOnceAndKeepsLastSync()
{
    sandbox->writeSettings({{"menuBar/watch", true}});
    auto program = launch({QStringLiteral("--login")});
    QVERIFY(program);
    QVERIFY2(waitFor([&] { return hasState(server->reports(), QStringLiteral("sync")); }, 30000),
             qPrintable(program->log()));
    QTest::qWait(1500);
    program->terminate();
    const qint64 endedAt = QDateTime::currentMSecsSinceEpoch();
    QCOMPARE(program->waitForExit(20000), 0);

    int byes = 0;
    QVERIFY(waitFor([&] {
        byes = 0;
        for (const QJsonObject& r : distinctReports(server->reports()))
            byes += r.value(QLatin1String("bye")).toBool() ? 1 : 0;
        return byes >= 1;
    }, 5000));
    QTest::qWait(500);
    QCOMPARE(byes, 1);
    // The last sync is stored on the way out, not 30 s stale.
    const qint64 stored = sandbox->setting("clock/lastSyncUtcMs").toLongLong();
    QVERIFY2(stored > endedAt - 5000 && stored <= endedAt + 2000,
             qPrintable(QStringLiteral("stored %1, ended %2").arg(stored).arg(endedAt)));
}

PELLUM_E2E_MAIN(TstE2eProgram, QCoreApplication)

#include "tst_e2e_program.moc"
