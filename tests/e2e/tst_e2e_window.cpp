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
            const int i = int(servers.size());
            QDir(work.path()).mkdir(name);
            servers.emplace_back(new TestServer(lan.serverNs.value(i), lan.serverAddr.value(i)));
            QVERIFY(servers.back()->start({QStringLiteral("--name"), name, QStringLiteral("--id"), name}));
        }
    }
    void fitsTheScreen_data();
    void fitsTheScreen();
    void keyboardAloneSetsUpTheSecondServer();
    void paintedWidgetsSpeak();

private:
    std::unique_ptr<Program> launch(const VirtualDisplay& screen, const QString& scale, const QString& setUpWith = {})
    {
        sandbox = std::make_unique<Sandbox>();
        sandbox->writeSetupRecord(setUpWith);
        QProcessEnvironment env = sandbox->environment();
        env.insert(QStringLiteral("DISPLAY"), screen.name());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
        // Without a window manager the platform would not believe the work area.
        env.insert(QStringLiteral("QT_RELY_ON_NET_WORKAREA_ATOM"), QStringLiteral("1"));
        auto program = std::make_unique<Program>(sandbox->installProgram(), env, sandbox->path("program.log"));
        return program->start() ? std::move(program) : nullptr;
    }
    // Id of the first visible window whose title matches, empty when none comes up.
    QString windowNamed(const VirtualDisplay& screen, const char* title)
    {
        QString id;
        waitFor([&] { return !(id = screen.visibleWindows(QLatin1String(title)).value(0)).isEmpty(); }, 30000);
        return id;
    }

    NetLan::Lan lan;
    QTemporaryDir work;
    std::vector<std::unique_ptr<TestServer>> servers;
    std::unique_ptr<Sandbox> sandbox;
};

void TstE2eWindow::fitsTheScreen_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("scale");
    QTest::addColumn<QRect>("room"); // device pixels the desktop leaves to windows
    QTest::newRow("1920x1080 at 150 %") << "1920x1080" << "1.5" << QRect(0, 0, 1920, 1080);
    QTest::newRow("1366x768 above a taskbar") << "1366x768" << "1" << QRect(0, 0, 1366, 728);
}

// Window taller than the screen at 150 %, or than the room above a taskbar, hid the set-up button.
void TstE2eWindow::fitsTheScreen()
{
    QFETCH(QString, size);
    QFETCH(QString, scale);
    QFETCH(QRect, room);
    VirtualDisplay screen;
    QVERIFY(screen.start(work.path(), false, size));
    // A taskbar as a desktop announces it: the work area left to windows.
    screen.x11(QStringLiteral("xprop"), {"-root", "-format", "_NET_WORKAREA", "32c", "-set",
             "_NET_WORKAREA", QStringLiteral("%1,%2,%3,%4").arg(room.x()).arg(room.y()).arg(room.width()).arg(room.height())});
    // Set up with Atlas, so Lab bench is the one server left to choose and comes selected.
    auto program = launch(screen, scale, lan.serverAddr.value(0));
    QVERIFY(program);
    const QString id = windowNamed(screen, "^Tavrin Pellum$");
    QVERIFY2(!id.isEmpty(), qPrintable(program->log()));
    QTest::qWait(4000); // the first search and its probes
    const QString shell = screen.x11(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", id});
    auto field = [&](const char* key) {
        return QRegularExpression(QStringLiteral("%1=(\\d+)").arg(QLatin1String(key))).match(shell).captured(1).toInt();
    };
    const QRect window(field("X"), field("Y"), field("WIDTH"), field("HEIGHT"));
    QVERIFY2(room.contains(window), qPrintable(shell));
    // The set-up button sits at the window's lower right; a click there asks the set-up question.
    const double s = scale.toDouble();
    screen.x11(QStringLiteral("xdotool"), {"mousemove", QString::number(window.right() - int(60 * s)),
             QString::number(window.bottom() - int(28 * s)), "click", "1"});
    QVERIFY2(!windowNamed(screen, "^Set up syncing$").isEmpty(), qPrintable(program->log()));
}

// The table took no focus and Return did nothing: a keyboard user could not choose a server.
void TstE2eWindow::keyboardAloneSetsUpTheSecondServer()
{
    VirtualDisplay screen;
    QVERIFY(screen.start(work.path(), false, QStringLiteral("1366x768")));
    auto program = launch(screen, QStringLiteral("1"));
    QVERIFY(program);
    const QString id = windowNamed(screen, "^Tavrin Pellum$");
    QVERIFY2(!id.isEmpty(), qPrintable(program->log()));
    QTest::qWait(4000);
    screen.x11(QStringLiteral("xdotool"), {"windowfocus", "--sync", id});
    QTest::qWait(500);
    // The table has the focus on opening: down to the second row, then Return.
    screen.x11(QStringLiteral("xdotool"), {"key", "--delay", "150", "Down", "Down", "Return"});
    QVERIFY2(!windowNamed(screen, "^Set up syncing$").isEmpty(), qPrintable(program->log()));
    screen.x11(QStringLiteral("xdotool"), {"key", "Return"});
    QVERIFY(waitFor([&] {
        QFile calls(sandbox->standinLogPath());
        return calls.open(QIODevice::ReadOnly) && calls.readAll().contains("install -Server " + lan.serverAddr.value(1).toLatin1());
    }, 15000));
}

// The clock, chips, readouts, switches and status cells were painted only: a screen reader read nothing.
void TstE2eWindow::paintedWidgetsSpeak()
{
    ClockWatcher watcher;
    PellumWindow window(&watcher);
    AlertWindow alert(&watcher);
    watcher.setServer(lan.serverAddr.value(0), QStringLiteral("Atlas"));
    QVERIFY(waitFor([&] { return watcher.state() == ClockState::Sync; }, 20000));
    DiscoveredServer ready{"a", "Atlas", lan.serverAddr.value(0), {}, {}, 1, 0, true, true, true, false, true};
    window.onFound({ready});
    auto spoken = [&](QObject* o) { return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name); };
    const QString clock = QStringLiteral("^Clock \\d\\d:\\d\\d:\\d\\d$");
    QVERIFY(spoken(window.findChild<QWidget*>("clockLed")).contains(QRegularExpression(clock)));
    QVERIFY(spoken(alert.findChild<QWidget*>("clockDisplay")).contains(QRegularExpression(clock)));
    QCOMPARE(spoken(window.findChild<QWidget*>("statusLine")), QStringLiteral("State: In sync, Atlas"));
    QVERIFY(spoken(window.findChild<QWidget*>("offsetReadout")).contains(QRegularExpression("^Offset \\d\\.\\d{3} s$")));
    QCOMPARE(spoken(window.findChild<QWidget*>("reportedReadout")), QStringLiteral("Reported off"));
    QCOMPARE(spoken(window.findChild<InstAppearanceSelector*>()), QStringLiteral("Appearance: Dark"));
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(window.findChild<QTableWidget*>());
    QCOMPARE(table->tableInterface()->cellAt(0, 3)->text(QAccessible::Name), QStringLiteral("IN USE"));
}

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
