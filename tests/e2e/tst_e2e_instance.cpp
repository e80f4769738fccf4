// One instance per user as users meet it: real program processes launched
// together and beside a stranger's socket (after a kill: tst_e2e_kill); and the program
// never left running with nothing of it to see.

#include "e2eharness.h"
#include "e2emain.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QTest>

using namespace E2E;

class TstE2eInstance : public QObject {
    Q_OBJECT
public:
    explicit TstE2eInstance(const NetLan::Lan&) {}

private:
    VirtualDisplay display;
    QTemporaryDir work;
    std::unique_ptr<Sandbox> sandbox;

    // Offscreen, as the whole suite runs, or on the virtual display.
    std::unique_ptr<Program> launch(bool onDisplay = false, const QStringList& args = {})
    {
        return sandbox->launch(sandbox->environment(onDisplay ? display.name() : QString()), args);
    }
    QString socketPath() const
    {
        return sandbox->path("runtime/com.tavrin.pellum.app.instance.") + sandbox->environment().value("USERNAME").toLower();
    }
    QString window(const char* title) const { return display.visibleWindows(QLatin1String(title)).value(0); }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(programPath()), "PELLUM_PROGRAM not built");
        QVERIFY2(!closeHelperPath().isEmpty(), "pellum-x11-close not built");
        QVERIFY2(display.start(work.path()), "Xvfb did not start");
    }
    void init() { sandbox = std::make_unique<Sandbox>(); }
    void cleanup() { display.stopTrayHost(); }

    void launchedTogetherOneStays()
    {
        // Fault: two launches at once both stayed, the second having removed the first's live socket.
        QProcessEnvironment slow = sandbox->environment();
        slow.insert(QStringLiteral("LD_PRELOAD"), qEnvironmentVariable("PELLUM_SLOWBIND"));
        slow.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0"));
        for (int round = 0; round < 6; ++round) {
            const QProcessEnvironment e = round % 2 ? slow : sandbox->environment();
            std::unique_ptr<Program> pair[2] = {sandbox->launch(e), sandbox->launch(e)};
            QVERIFY2(waitFor([&] { return !pair[0]->isRunning() || !pair[1]->isRunning(); }, 10000),
                     qPrintable(QStringLiteral("round %1: both stayed").arg(round)));
            QTest::qWait(500);
            const int stays = pair[0]->isRunning() ? 0 : 1;
            QVERIFY2(pair[stays]->isRunning(), qPrintable(QStringLiteral("round %1: none stayed").arg(round)));
            QCOMPARE(pair[1 - stays]->waitForExit(0), 0);
            pair[stays]->terminate();
            QCOMPARE(pair[stays]->waitForExit(15000), 0);
        }
    }

    void strangersSocketDoesNotBlock()
    {
        // Fault: another user's socket of our name in the shared temp folder took the launch, or the hand-over of a later one.
        QLocalServer stranger;
        QVERIFY(stranger.listen(sandbox->path("tmp/") + QFileInfo(socketPath()).fileName()));
        auto first = launch();
        QVERIFY2(waitFor([&] { return QFileInfo::exists(socketPath()); }, 15000), qPrintable(first->log()));
        QCOMPARE(launch()->waitForExit(15000), 0);
        QVERIFY2(first->isRunning() && !stranger.hasPendingConnections(), "a launch went to a stranger's socket");
        first->terminate();
        QCOMPARE(first->waitForExit(15000), 0);
    }

    void alertGoingWithWatchingOffQuits()
    {
        // Fault: watching off and the main window closed, the alert went when the state left Wrong and nothing quit.
        // Behind its last sync for about ten seconds, then the clock passes it.
        sandbox->writeSettings({{"clock/lastSyncUtcMs", QDateTime::currentMSecsSinceEpoch() + 12000}});
        auto program = launch(true);
        QVERIFY2(waitFor([&] { return !window("^Tavrin Pellum$").isEmpty() && !window(": clock alert$").isEmpty(); },
                         30000), qPrintable(program->log()));
        QVERIFY(display.requestClose(window("^Tavrin Pellum$")));
        QVERIFY(waitFor([&] { return window("^Tavrin Pellum$").isEmpty(); }, 5000));
        QVERIFY2(!window(": clock alert$").isEmpty() && program->isRunning(), "too late: the alert had gone");
        QCOMPARE(program->waitForExit(30000), 0);
    }

    void withoutNotificationAreaWatchingKeepsWindowInTaskBar()
    {
        // Fault: watching with no notification area, a login start, the alert going or a close left nothing to see; one come late left the window out.
        // Watching, and behind its last sync for about ten seconds: the alert comes and goes.
        sandbox->writeSettings({{"menuBar/watch", true},
                                {"clock/lastSyncUtcMs", QDateTime::currentMSecsSinceEpoch() + 12000}});
        auto program = launch(true, {QStringLiteral("--login")});
        QVERIFY2(waitFor([&] { return !window(": clock alert$").isEmpty(); }, 30000), qPrintable(program->log()));
        QVERIFY(display.isMinimised(window("^Tavrin Pellum$")));
        QVERIFY(waitFor([&] { return window(": clock alert$").isEmpty(); }, 30000)
                && display.isMinimised(window("^Tavrin Pellum$")));
        QVERIFY(display.requestClose(window("^Tavrin Pellum$")));
        QTest::qWait(1500);
        QVERIFY(display.isMinimised(window("^Tavrin Pellum$")));
        // A panel started late gets the lamp and the window goes, as at a login start with a panel; its quitting brings the window back.
        QVERIFY(display.startTrayHost() && waitFor([&] { return display.lampShown(); }, 15000));
        QVERIFY(waitFor([&] { return window("^Tavrin Pellum$").isEmpty(); }, 10000));
        display.stopTrayHost();
        QVERIFY(waitFor([&] { return display.isMinimised(window("^Tavrin Pellum$")); }, 10000));
        program->terminate();
        QCOMPARE(program->waitForExit(15000), 0);
    }
};

PELLUM_E2E_MAIN(TstE2eInstance, QCoreApplication)

#include "tst_e2e_instance.moc"
