// The whole controller in this process, driven through its widgets as a
// user would: the real watcher talks to the test time server on its own
// host of a private test LAN; the privileged steps go to the stand-in script.

#include "adminstep.h"
#include "clientapp.h"
#include "clockwatcher.h"
#include "e2eharness.h"
#include "e2emain.h"
#include "loginentry.h"
#include "singleinstance.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include "alertwindow.h"
#include "clienttray.h"
#include "pellumwindow.h"

using namespace E2E;

namespace {

// The process-wide sandbox: settings paths are fixed once per process, so the
// folders are set before the application object exists and cleared per case.
Sandbox& sandbox()
{
    static Sandbox box;
    return box;
}

QAbstractButton* button(QWidget* root, const char* name)
{
    return root ? root->findChild<QAbstractButton*>(QLatin1String(name)) : nullptr;
}

// Answers every modal message box that comes up while it lives, and
// remembers what was asked.
class ModalAnswerer : public QObject {
public:
    explicit ModalAnswerer(const QString& answer)
        : answer(answer)
    {
        timer.setInterval(30);
        connect(&timer, &QTimer::timeout, this, [this] { poll(); });
        timer.start();
    }
    QStringList seenNames;
    QStringList seenTexts;
    QList<QWidget*> seenParents;
    QString answer;

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == last)
            return;
        last = box;
        seenNames << box->objectName();
        seenTexts << box->text();
        seenParents << box->parentWidget();
        for (QAbstractButton* b : box->buttons()) {
            if (b->text().remove(QLatin1Char('&')) == answer) {
                b->click();
                return;
            }
        }
        box->reject();
    }
    QTimer timer;
    QMessageBox* last = nullptr;
};

int byeCount(const TestServer& server)
{
    int n = 0;
    for (const QJsonObject& r : distinctReports(server.reports()))
        n += r.value(QLatin1String("bye")).toBool() ? 1 : 0;
    return n;
}

} // namespace

class TstE2eFlows : public QObject {
    Q_OBJECT
public:
    explicit TstE2eFlows(const NetLan::Lan& lan)
        : lan(lan)
    {
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstStartHasWindowAndNoTray();
    void watchingOnAsksStartAtLoginOncePerSwitch();
    void watchingOnWithEntryAsksNothing();
    void watchingOffRemovesEntryAndSaysGoodbyeOnce();
    void wrongStateAlertLinkAndAcceptingServerTime();
    void settingTheClockRunsTheStepAndReportsFailure();
    void alertSyncNowAndSearchReachTheMainWindow();
    void secondLaunchShowsHiddenWindow();
    void quitFromTrayWhileWatching();

private:
    void makeApp(bool atLogin);
    PellumWindow* window() const { return app->mainWindow(); }
    AlertWindow* alert() const { return app->alert(); }

    NetLan::Lan lan;
    std::unique_ptr<TestServer> server;
    std::unique_ptr<ClientApp> app;
};

void TstE2eFlows::initTestCase()
{
    QVERIFY(lan.isValid());
    QVERIFY(sandbox().isValid());
    QVERIFY2(QFile::exists(AdminStep::scriptPath()),
             "stand-in setup script missing next to the test");
    sandbox().writeSetupRecord(lan.serverAddr.value(0));
    server = std::make_unique<TestServer>(lan.serverNs.value(0), lan.serverAddr.value(0), sandbox().path());
    QVERIFY2(server->start(), qPrintable(server->errors()));
}

void TstE2eFlows::init()
{
    QSettings().clear();
    QSettings().sync();
    LoginEntry::remove();
    QFile::remove(sandbox().standinLogPath());
    qunsetenv("PELLUM_STANDIN_EXIT");
    server->setControl(QString());
}

void TstE2eFlows::cleanup()
{
    app.reset();
    QTest::qWait(50);
}

void TstE2eFlows::makeApp(bool atLogin)
{
    app = std::make_unique<ClientApp>(atLogin);
}

void TstE2eFlows::firstStartHasWindowAndNoTray()
{
    makeApp(false);
    QVERIFY(window()->isVisible());
    QVERIFY(!app->clientTray());
    QVERIFY(!alert()->isVisible());
    QVERIFY(QApplication::quitOnLastWindowClosed());
    QVERIFY(!window()->closeToMenuBar);
    QCOMPARE(QSettings().value("menuBar/watch").toBool(), false);
    // The window hands the set-up server to the watcher, which then syncs.
    QTRY_COMPARE_WITH_TIMEOUT(app->clockWatcher()->state(), ClockState::Sync, 20000);
}

void TstE2eFlows::watchingOnAsksStartAtLoginOncePerSwitch()
{
    makeApp(false);
    QAbstractButton* watch = button(window(), "watchToggle");
    QAbstractButton* login = button(window(), "loginToggle");
    QVERIFY(watch && login);
    QVERIFY(!login->isEnabled());

    {
        ModalAnswerer answerer(QStringLiteral("Not Now"));
        watch->click();
        QCOMPARE(answerer.seenNames, QStringList{QStringLiteral("startAtLoginQuestion")});
        QCOMPARE(answerer.seenTexts.value(0), QStringLiteral("Start Pellum at login?"));
        QCOMPARE(answerer.seenParents.value(0), static_cast<QWidget*>(window()));
    }
    QVERIFY(app->isWatching());
    QVERIFY(app->clientTray());
    QVERIFY(!QFile::exists(sandbox().autostartPath()));
    QVERIFY(!login->isChecked());
    QVERIFY(login->isEnabled());

    watch->click(); // off: no question
    QVERIFY(!app->isWatching());
    QVERIFY(!app->clientTray());

    {
        ModalAnswerer answerer(QStringLiteral("Start at Login"));
        watch->click();
        QCOMPARE(answerer.seenNames.size(), 1);
    }
    QVERIFY(QFile::exists(sandbox().autostartPath()));
    QVERIFY(login->isChecked());
    QFile entry(sandbox().autostartPath());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    QVERIFY2(text.contains(QStringLiteral("Exec=\"%1\" --login").arg(QCoreApplication::applicationFilePath())),
             qPrintable(text));

    // The start-at-login switch by itself: off removes, on writes again.
    login->click();
    QVERIFY(!QFile::exists(sandbox().autostartPath()));
    QVERIFY(!login->isChecked());
    login->click();
    QVERIFY(QFile::exists(sandbox().autostartPath()));
    QVERIFY(login->isChecked());
}

void TstE2eFlows::watchingOnWithEntryAsksNothing()
{
    makeApp(false);
    app->setRunAtLogin(true);
    ModalAnswerer answerer(QStringLiteral("Not Now"));
    button(window(), "watchToggle")->click();
    QTest::qWait(200);
    QVERIFY(answerer.seenNames.isEmpty());
    QVERIFY(app->isWatching());
}

void TstE2eFlows::watchingOffRemovesEntryAndSaysGoodbyeOnce()
{
    QSettings().setValue("menuBar/watch", true);
    LoginEntry::write(QCoreApplication::applicationFilePath());
    const int byesBefore = byeCount(*server);
    makeApp(false);
    QAbstractButton* watch = button(window(), "watchToggle");
    QAbstractButton* login = button(window(), "loginToggle");
    QVERIFY(watch->isChecked());
    QVERIFY(login->isChecked());
    QVERIFY(app->clientTray());
    const int reportsBefore = server->reports().size();
    // Reporting is on from the start: one report at once.
    QTRY_VERIFY_WITH_TIMEOUT(server->reports().size() > reportsBefore, 15000);

    watch->click();
    QVERIFY(!app->isWatching());
    QVERIFY(!app->clientTray());
    QVERIFY(!QFile::exists(sandbox().autostartPath()));
    QVERIFY(!login->isChecked());
    QVERIFY(!login->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(byeCount(*server), byesBefore + 1, 10000);
    // Reporting has stopped: nothing else arrives, and not a second goodbye.
    const int afterBye = distinctReports(server->reports()).size();
    QTest::qWait(3000);
    QCOMPARE(distinctReports(server->reports()).size(), afterBye);
    QCOMPARE(byeCount(*server), byesBefore + 1);
}

void TstE2eFlows::wrongStateAlertLinkAndAcceptingServerTime()
{
    QSettings().setValue("clock/lastSyncUtcMs", QDateTime::currentMSecsSinceEpoch() + 90000);
    makeApp(false);
    QCOMPARE(app->clockWatcher()->state(), ClockState::Wrong);
    QVERIFY(alert()->isVisible());
    QVERIFY(window()->isVisible());
    auto* link = window()->findChild<QLabel*>(QStringLiteral("alertLink"));
    QVERIFY(link);
    QVERIFY(!link->isVisible());

    // Put away: the main window offers the way back.
    alert()->close();
    QVERIFY(!alert()->isVisible());
    QTRY_VERIFY(link->isVisible());
    QVERIFY(QMetaObject::invokeMethod(link, "linkActivated", Q_ARG(QString, QStringLiteral("alert"))));
    QVERIFY(alert()->isVisible());
    QVERIFY(!link->isVisible());

    // The server answers and agrees with this clock: accept its time.
    QTRY_VERIFY_WITH_TIMEOUT(button(alert(), "acceptServerTimeButton")
                                 && button(alert(), "acceptServerTimeButton")->isVisible(),
                             20000);
    button(alert(), "acceptServerTimeButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(app->clockWatcher()->state(), ClockState::Sync, 5000);
    QVERIFY(!alert()->isVisible());
    QVERIFY(!link->isVisible());
}

void TstE2eFlows::settingTheClockRunsTheStepAndReportsFailure()
{
    const qint64 lastSync = (QDateTime::currentMSecsSinceEpoch() / 1000 + 3600) * 1000;
    QSettings().setValue("clock/lastSyncUtcMs", lastSync);
    makeApp(false);
    QVERIFY(alert()->isVisible());
    QAbstractButton* set = button(alert(), "setClockButton");
    QVERIFY(set);
    QVERIFY(set->isEnabled()); // the editors start at the last sync

    set->click();
    QFile calls(sandbox().standinLogPath());
    QVERIFY(calls.open(QIODevice::ReadOnly));
    const QString expected = QStringLiteral("set-time -Time ")
                             + QDateTime::fromMSecsSinceEpoch(lastSync, Qt::UTC).toString("yyyy-MM-ddTHH:mm:ss")
                             + QLatin1Char('Z');
    QCOMPARE(QString::fromUtf8(calls.readAll()).trimmed(), expected);
    calls.close();

    // A failing step is told in a warning over the alert window.
    qputenv("PELLUM_STANDIN_EXIT", "1");
    {
        ModalAnswerer answerer(QStringLiteral("OK"));
        set->click();
        QCOMPARE(answerer.seenTexts, QStringList{QStringLiteral("The administrator step reported an error.")});
        QCOMPARE(answerer.seenParents.value(0), static_cast<QWidget*>(alert()));
    }
    qunsetenv("PELLUM_STANDIN_EXIT");
    // An earlier time than the last sync cannot be entered.
    auto* date = alert()->findChild<QDateEdit*>(QStringLiteral("dateEditor"));
    QVERIFY(date);
    QCOMPARE(date->minimumDate(), QDateTime::fromMSecsSinceEpoch(lastSync).date());
}

void TstE2eFlows::alertSyncNowAndSearchReachTheMainWindow()
{
    // Heard but 3 s apart: the alert offers to sync now rather than to accept.
    server->setControl(QStringLiteral("--offset-ms 3000"));
    QSettings().setValue("clock/lastSyncUtcMs", QDateTime::currentMSecsSinceEpoch() + 90000);
    makeApp(false);
    QVERIFY(alert()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(button(alert(), "syncNowButton") && button(alert(), "syncNowButton")->isVisible(),
                             20000);
    button(alert(), "syncNowButton")->click();
    QFile calls(sandbox().standinLogPath());
    QVERIFY(calls.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(calls.readAll()).trimmed(), QStringLiteral("sync"));
    calls.close();
    auto* message = window()->findChild<QLabel*>(QStringLiteral("scanMessage"));
    QVERIFY(message);
    QCOMPARE(message->text(), QStringLiteral("Synced with %1.").arg(lan.serverAddr.value(0)));

    window()->hide();
    QAbstractButton* search = button(alert(), "searchButton");
    QVERIFY(search);
    search->click();
    QVERIFY(!alert()->isVisible());
    QVERIFY(window()->isVisible());
    // Put away while the clock is still wrong: the link leads back.
    auto* link = window()->findChild<QLabel*>(QStringLiteral("alertLink"));
    QTRY_VERIFY(link && link->isVisible());
}

void TstE2eFlows::secondLaunchShowsHiddenWindow()
{
    QSettings().setValue("menuBar/watch", true);
    makeApp(true);
    QVERIFY(!window()->isVisible());
    QLocalServer* guard = nullptr;
    QVERIFY(claimSingleInstance(&guard));
    app->start(guard);
    QCOMPARE(guard->parent(), static_cast<QObject*>(app.get()));
    // A second launch: any client, any bytes.
    QLocalSocket client;
    client.connectToServer(instanceServerName());
    QVERIFY(client.waitForConnected(3000));
    QTRY_VERIFY_WITH_TIMEOUT(window()->isVisible(), 5000);
    // Closing while watching only hides.
    window()->close();
    QVERIFY(!window()->isVisible());
    QVERIFY(!claimSingleInstance(nullptr)); // still guarded
    QTRY_VERIFY_WITH_TIMEOUT(window()->isVisible(), 5000);
}

void TstE2eFlows::quitFromTrayWhileWatching()
{
    QSettings().setValue("menuBar/watch", true);
    makeApp(false);
    QVERIFY(window()->isVisible());
    window()->close();
    QVERIFY(!window()->isVisible());
    window()->show();
    QVERIFY(app->clientTray());
    QMenu* menu = app->clientTray()->contextMenu();
    QVERIFY(menu);
    auto* quit = menu->findChild<QAction*>(QStringLiteral("trayQuitAction"));
    if (!quit) {
        for (QAction* a : menu->actions())
            if (a->text() == QStringLiteral("Quit Tavrin Pellum"))
                quit = a;
    }
    QVERIFY(quit);
    QTimer::singleShot(300, quit, &QAction::trigger);
    QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(99); }); // safety net
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window()->isVisible());
    QVERIFY(!window()->closeToMenuBar);
}

int main(int argc, char** argv)
{
    const int early = NetLan::reexecInside(argc, argv, 1);
    if (early >= 0)
        return early;
    const NetLan::Lan lan = NetLan::fromEnvironment();
    if (!NetLan::enter(lan.clientNs)) {
        std::fprintf(stderr, "cannot enter the client namespace\n");
        return 1;
    }
    sandbox().applyToThisProcess();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrin Pellum"));
    QApplication::setApplicationVersion(QStringLiteral("1.7.0"));
    QApplication::setOrganizationName(QStringLiteral("Quorrel Two"));
    TstE2eFlows test(lan);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_flows.moc"
