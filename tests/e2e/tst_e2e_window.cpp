// The main window for every user: the real program on small and scaled
// screens and on the keyboard alone (Xvfb, xdotool), and the window's painted
// widgets as a screen reader asks them (in this process), with two test time
// servers on a private test LAN.

#include "alertwindow.h"
#include "clockwatcher.h"
#include "e2eharness.h"
#include "instappearanceselector.h"
#include "netlan.h"
#include "pellumwindow.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

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
        QProcessEnvironment env = sandbox.environment();
        env.insert(QStringLiteral("DISPLAY"), screen.name());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
        // Without a window manager the platform would not believe the work area.
        env.insert(QStringLiteral("QT_RELY_ON_NET_WORKAREA_ATOM"), QStringLiteral("1"));
        Program program(sandbox.installProgram(), env, sandbox.path("program.log"));
        QVERIFY(program.start());
        const auto windowNamed = [&](const char* title) {
            QString id;
            waitFor([&] { return !(id = screen.visibleWindows(QLatin1String(title)).value(0)).isEmpty(); }, 30000);
            return id;
        };
        const QString id = windowNamed("^Tavrin Pellum$");
        QVERIFY2(!id.isEmpty(), qPrintable(program.log()));
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
        QVERIFY2(!windowNamed("^Set up syncing$").isEmpty(), qPrintable(program.log()));
        screen.x11(QStringLiteral("xdotool"), {"key", "Return"});
        QVERIFY(waitFor([&] {
            QFile calls(sandbox.standinLogPath());
            return calls.open(QIODevice::ReadOnly) && calls.readAll().contains("install -Server " + lan.serverAddr.value(1).toLatin1());
        }, 15000));
    }

    // The clock, chips, readouts, switches and status cells were painted only: a screen reader read nothing.
    void paintedWidgetsSpeak()
    {
        ClockWatcher watcher;
        PellumWindow window(&watcher);
        AlertWindow alert(&watcher);
        watcher.setServer(lan.serverAddr.value(0), QStringLiteral("Atlas"));
        QVERIFY(waitFor([&] { return watcher.state() == ClockState::Sync; }, 20000));
        window.onFound({{"a", "Atlas", lan.serverAddr.value(0), {}, {}, 1, 0, true, true, true, false, true}});
        auto spoken = [](QObject* o) { return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name); };
        QStringList heard;
        for (const char* name : {"clockLed", "statusLine", "offsetReadout", "reportedReadout"})
            heard << spoken(window.findChild<QWidget*>(name));
        heard << spoken(alert.findChild<QWidget*>("clockDisplay")) << spoken(window.findChild<InstAppearanceSelector*>())
              << QAccessible::queryAccessibleInterface(window.findChild<QTableWidget*>())->tableInterface()->cellAt(0, 3)->text(QAccessible::Name);
        // Each says what it shows: the time, the state, the value, the choice, the server's use.
        QVERIFY2(heard.join('|').contains(QRegularExpression(R"(^Clock \d\d:\d\d:\d\d\|State: In sync, Atlas\|Offset \d\.\d{3} s\|)"
                                                             R"(Reported off\|Clock \d\d:\d\d:\d\d\|Appearance: Dark\|IN USE$)")),
                 qPrintable(heard.join('|')));
    }

private:
    NetLan::Lan lan;
    QTemporaryDir work;
    std::vector<std::unique_ptr<TestServer>> servers;
};

int main(int argc, char** argv)
{
    const int early = NetLan::reexecInside(argc, argv, 2);
    if (early >= 0)
        return early;
    const NetLan::Lan lan = NetLan::fromEnvironment();
    if (!NetLan::enter(lan.clientNs))
        return 1;
    // The in-process window needs no screen; the program gets its own.
    static Sandbox here;
    here.applyToThisProcess();
    here.writeSetupRecord(lan.serverAddr.value(0));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TstE2eWindow test(lan);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_window.moc"
