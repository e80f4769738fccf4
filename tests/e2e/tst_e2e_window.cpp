// The main window for every user: the real program on small and scaled
// screens, on the keyboard alone (Xvfb, xdotool) and as a screen reader reads
// it (AT-SPI), with two test time servers on a private test LAN.

#include "e2eharness.h"
#include "e2emain.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

using namespace E2E;

class TstE2eWindow : public QObject {
    Q_OBJECT
public:
    explicit TstE2eWindow(const NetLan::Lan& lan) : lan(lan) {}

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(programPath()) && QFile::exists(testServerPath()), "programs not built");
        for (const QString name : {"Atlas", "Lab bench"}) {
            servers.emplace_back(new TestServer(lan.serverNs.value(int(servers.size())), lan.serverAddr.value(int(servers.size()))));
            QVERIFY(servers.back()->start({QStringLiteral("--name"), name, QStringLiteral("--id"), name}));
        }
    }

    void reachSetUp_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("scale");
        QTest::addColumn<int>("room"); // device pixels of height the desktop leaves to windows
        QTest::addColumn<bool>("keys");
        QTest::addColumn<int>("later"); // the room once the window is shown; 0: unchanged
        QTest::newRow("1920x1080 at 150 %") << "1920x1080" << "1.5" << 1080 << false << 0;
        QTest::newRow("1366x768 above a taskbar") << "1366x768" << "1" << 728 << false << 0;
        QTest::newRow("keyboard alone, second of two servers") << "1366x768" << "1" << 728 << true << 0;
        QTest::newRow("room shrinks while shown") << "1920x1080" << "1.5" << 1080 << false << 900;
    }
    // The window outgrew the screen or the room above a taskbar (also once shown), hiding set-up; the table took no keys.
    void reachSetUp()
    {
        QFETCH(QString, size);
        QFETCH(QString, scale);
        QFETCH(int, room);
        QFETCH(bool, keys);
        QFETCH(int, later);
        VirtualDisplay screen;
        QVERIFY(screen.start(work.path(), false, size));
        // A taskbar as a desktop announces it: the work area left to windows.
        QRect area(0, 0, size.section('x', 0, 0).toInt(), room);
        const auto setWorkArea = [&] {
            screen.x11(QStringLiteral("xprop"), {"-root", "-format", "_NET_WORKAREA", "32c", "-set", "_NET_WORKAREA",
                                                QStringLiteral("0,0,%1,%2").arg(area.width()).arg(area.height())});
        };
        setWorkArea();
        // Set up with Atlas, Lab bench is the one server left and comes selected; unset, keys must pick it.
        Sandbox sandbox;
        sandbox.writeSetupRecord(keys ? QString() : lan.serverAddr.value(0));
        QProcessEnvironment env = sandbox.environment(screen.name());
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
        // Without a window manager the platform would not believe the work area.
        env.insert(QStringLiteral("QT_RELY_ON_NET_WORKAREA_ATOM"), QStringLiteral("1"));
        const auto program = sandbox.launch(env);
        const auto windowNamed = [&](const char* title) {
            QString id;
            waitFor([&] { return !(id = screen.visibleWindows(QLatin1String(title)).value(0)).isEmpty(); }, 30000);
            return id;
        };
        const QString id = windowNamed("^Tavrin Pellum$");
        QVERIFY2(!id.isEmpty(), qPrintable(program->log()));
        QTest::qWait(4000); // the first search and its probes
        if (later) {
            area.setHeight(later);
            setWorkArea();
            QTest::qWait(1000);
        }
        const QString shell = screen.x11(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", id});
        const auto at = QRegularExpression(R"(X=(\d+)\s+Y=(\d+)\s+WIDTH=(\d+)\s+HEIGHT=(\d+))").match(shell);
        const QRect window(at.captured(1).toInt(), at.captured(2).toInt(), at.captured(3).toInt(), at.captured(4).toInt());
        QVERIFY2(area.contains(window), qPrintable(shell));
        if (keys) { // the table has the focus on opening: down to the second row, then Return
            screen.x11(QStringLiteral("xdotool"), {"windowfocus", "--sync", id});
            QTest::qWait(500);
            screen.x11(QStringLiteral("xdotool"), {"key", "--delay", "150", "Down", "Down", "Return"});
        } else { // the set-up button sits at the window's lower right
            const double s = scale.toDouble();
            screen.x11(QStringLiteral("xdotool"), {"mousemove", QString::number(window.right() - int(60 * s)),
                                                  QString::number(window.bottom() - int(28 * s)), "click", "1"});
        }
        QVERIFY2(!windowNamed("^Set up syncing$").isEmpty(), qPrintable(program->log()));
        screen.x11(QStringLiteral("xdotool"), {"key", "Return"});
        QVERIFY(waitFor([&] { return sandbox.standinCalls().contains("install -Server " + lan.serverAddr.value(1)); }, 15000));
    }

    // The table went unnamed and chips spoke in capitals; the alert offered to accept a set-back clock the silent server had never seen.
    void screenReaderHears()
    {
        VirtualDisplay screen;
        QVERIFY(screen.start(work.path()) && screen.startAccessibilityBus(work.path()));
        Sandbox sandbox;
        sandbox.writeSetupRecord(lan.serverAddr.value(0));
        auto program = sandbox.launch(screen.withAccessibility(sandbox.environment(screen.name(), true)));
        QString heard;
        const auto hears = [&](const QString& pattern, int timeoutMs) {
            const QRegularExpression wanted(pattern, QRegularExpression::MultilineOption);
            return waitFor([&] { return (heard = screen.accessibleTree(program->pid()).join('\n')).contains(wanted); }, timeoutMs);
        };
        // The first node a screen reader cannot say: a control the keyboard reaches with no name, or a word in capitals.
        const auto unsaid = [&] {
            for (const QString& node : heard.split('\n'))
                if ((node.section('|', 3).contains(QRegularExpression("focusable.*showing")) && node.section('|', 2, 2).isEmpty())
                    || node.contains(QRegularExpression(R"(\|(IN SYNC|ATLAS|IN USE|READY|NOT ANSWERING)\|)")))
                    return node;
            return QString();
        };
        QVERIFY2(hears(R"(\|State: In sync, Atlas\|[\s\S]*\|Clock \d\d:\d\d:\d\d\|[\s\S]*\|Offset \d\.\d{3} s\|)"
                       R"([\s\S]*\|In use\|[\s\S]*\|Ready\|)", 30000), qPrintable(heard + program->log()));
        QVERIFY(heard.contains("|table|Time servers on this network|"));
        QCOMPARE(unsaid(), QString());
        // The server falls silent and the clock goes back an hour: nothing agrees with the new clock.
        ::kill(pid_t(servers.front()->pid()), SIGSTOP);
        sandbox.setFakeTime("-3600");
        const bool alerted = hears(R"(\|No time server is answering\. Set the clock by hand, or find a server\.\|)", 15000);
        QTest::qWait(3000);
        hears("", 1000);
        ::kill(pid_t(servers.front()->pid()), SIGCONT);
        QVERIFY2(alerted && !heard.contains("Accept the server's time"), qPrintable(heard.right(600)));
        QCOMPARE(unsaid(), QString());
        program->terminate();
        QCOMPARE(program->waitForExit(15000), 0);
    }

private:
    NetLan::Lan lan;
    QTemporaryDir work;
    std::vector<std::unique_ptr<TestServer>> servers;
};

PELLUM_E2E_MAIN_LAN(TstE2eWindow, QCoreApplication, 2)

#include "tst_e2e_window.moc"
