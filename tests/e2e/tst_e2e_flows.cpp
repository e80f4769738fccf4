// The whole controller in this process, driven through its widgets as a
// user would: the real watcher talks to the test time server on its own
// host of a private test LAN; the privileged steps go to the stand-in script.

#include "adminstep.h"
#include "clientapp.h"
#include "clockwatcher.h"
#include "e2eharness.h"
#include "e2emain.h"
#include "loginentry.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
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

// Answers every message box that comes up while it lives, and remembers
// what was asked and over which window.
class ModalAnswerer : public QObject {
public:
    explicit ModalAnswerer(const QString& answer)
    {
        timer.callOnTimeout(this, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box == last)
                return;
            last = box;
            seenTexts << box->text();
            seenParents << box->parentWidget();
            for (QAbstractButton* b : box->buttons())
                if (b->text().remove(QLatin1Char('&')) == answer)
                    return b->click();
            box->reject();
        });
        timer.start(30);
    }
    QStringList seenTexts;
    QList<QWidget*> seenParents;

private:
    QTimer timer;
    QMessageBox* last = nullptr;
};

// The sandbox goes in before the application fixes its settings paths.
class FlowsApp : public QApplication {
public:
    FlowsApp(int& argc, char** argv) : QApplication((sandbox().applyToThisProcess(), argc), argv)
    {
        setApplicationName(QStringLiteral("Tavrin Pellum"));
        setApplicationVersion(QStringLiteral("1.7.0"));
        setOrganizationName(QStringLiteral("Quorrel Two"));
    }
};

} // namespace

class TstE2eFlows : public QObject {
    Q_OBJECT
public:
    explicit TstE2eFlows(const NetLan::Lan& lan) : lan(lan) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void watchingOffAndOnKeepsEntryAndGoodbyeRight();
    void wrongStateAlertButtonsAndLink();
    void settingTheClockRunsTheStepAndReportsFailure();
    void quitFromTrayWhileWatching();
    void stepsClaimingSuccessAreCheckedAgainstTheRecord();

private:
    PellumWindow* window() const { return app->mainWindow(); }
    AlertWindow* alert() const { return app->alert(); }
    QString standinCalls() const { return sandbox().standinCalls(); }

    NetLan::Lan lan;
    std::unique_ptr<TestServer> server;
    std::unique_ptr<ClientApp> app;
};

void TstE2eFlows::initTestCase()
{
    QVERIFY(lan.isValid());
    QVERIFY(sandbox().isValid());
    sandbox().writeSetupRecord(lan.serverAddr.value(0));
    server = std::make_unique<TestServer>(lan.serverNs.value(0), lan.serverAddr.value(0));
    QVERIFY(server->start());
}

void TstE2eFlows::init()
{
    QSettings().clear();
    QSettings().sync();
    LoginEntry::remove();
    QFile::remove(sandbox().standinLogPath());
    qunsetenv("PELLUM_STANDIN_EXIT");
    server->control(QString());
}

void TstE2eFlows::cleanup()
{
    app.reset();
    QTest::qWait(50);
}

void TstE2eFlows::watchingOffAndOnKeepsEntryAndGoodbyeRight()
{
    // Watching off left the login entry, kept reporting or said goodbye twice; on, the login question came twice or its entry did not start this program.
    QSettings().setValue("menuBar/watch", true);
    LoginEntry::write(QCoreApplication::applicationFilePath());
    const int byesBefore = server->goodbyes();
    app = std::make_unique<ClientApp>(false);
    QAbstractButton* watch = button(window(), "watchToggle");
    QAbstractButton* login = button(window(), "loginToggle");
    QVERIFY(watch && login && watch->isChecked() && login->isChecked() && app->clientTray());
    const int reportsBefore = server->reports().size();
    QTRY_VERIFY_WITH_TIMEOUT(server->reports().size() > reportsBefore, 15000);
    watch->click();
    QVERIFY(!app->isWatching() && !app->clientTray());
    QVERIFY2(!QFile::exists(sandbox().autostartPath()), "watching off left the login entry");
    QVERIFY(!login->isChecked() && !login->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(server->goodbyes(), byesBefore + 1, 10000);
    const int afterBye = distinctReports(server->reports()).size();
    QTest::qWait(3000);
    QCOMPARE(distinctReports(server->reports()).size(), afterBye);
    {
        ModalAnswerer answerer(QStringLiteral("Not Now"));
        watch->click();
        QCOMPARE(answerer.seenTexts, QStringList{QStringLiteral("Start Pellum at login?")});
        QCOMPARE(answerer.seenParents.value(0), static_cast<QWidget*>(window()));
    }
    QVERIFY(app->isWatching() && app->clientTray());
    QVERIFY(!QFile::exists(sandbox().autostartPath()));
    QVERIFY(!login->isChecked() && login->isEnabled());
    watch->click(); // off: no question
    QVERIFY(!app->isWatching() && !app->clientTray());
    {
        ModalAnswerer answerer(QStringLiteral("Start at Login"));
        watch->click();
        QCOMPARE(answerer.seenTexts.size(), 1);
    }
    QVERIFY(login->isChecked());
    QFile entry(sandbox().autostartPath());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    QVERIFY2(text.contains(QStringLiteral("Exec=\"%1\" --login").arg(QCoreApplication::applicationFilePath())),
             qPrintable(text));
    login->click();
    QVERIFY(!QFile::exists(sandbox().autostartPath()) && !login->isChecked());
    login->click();
    QVERIFY(QFile::exists(sandbox().autostartPath()) && login->isChecked());
    // With the entry there, switching watching on again asks nothing.
    watch->click();
    app->setRunAtLogin(true);
    ModalAnswerer answerer(QStringLiteral("Not Now"));
    watch->click();
    QTest::qWait(200);
    QVERIFY(answerer.seenTexts.isEmpty());
    QVERIFY(app->isWatching());
}

void TstE2eFlows::stepsClaimingSuccessAreCheckedAgainstTheRecord()
{
    // A set-up or removal step that exited 0 but left the record as it was was reported as done; an install that set up but did not sync was reported as failed.
    app = std::make_unique<ClientApp>(false);
    auto* status = window()->findChild<QLabel*>(QStringLiteral("scanMessage"));
    ModalAnswerer answerer(QStringLiteral("Remove"));
    window()->runInstall(QStringLiteral("198.18.0.77"), QStringLiteral("the server at 198.18.0.77"));
    QVERIFY(answerer.seenTexts.isEmpty());
    QCOMPARE(status->text(), QStringLiteral("The setup step reported success, but this computer is not set up to sync with 198.18.0.77."));
    window()->removeSetup();
    QCOMPARE(answerer.seenTexts.size(), 1);   // the question only, no "no longer syncs"
    QCOMPARE(status->text(), QStringLiteral("The removal step reported success, but this computer still syncs with %1.")
                                 .arg(lan.serverAddr.value(0)));
    QCOMPARE(standinCalls(), QStringLiteral("install -Server 198.18.0.77\nremove"));
    // Exit 10: set up for this server, only the first sync was not taken.
    qputenv("PELLUM_STANDIN_EXIT", "10");
    window()->runInstall(lan.serverAddr.value(0), lan.serverAddr.value(0));
    QCOMPARE(status->text(), QStringLiteral("Set up, but the first sync with %1 was not confirmed.").arg(lan.serverAddr.value(0)));
    QCOMPARE(answerer.seenTexts.value(1).section('\n', 0, 0), AdminStep::exitCodeMeaning(10));
}

void TstE2eFlows::settingTheClockRunsTheStepAndReportsFailure()
{
    // Setting the clock passed the wrong time to the step, or hid a failure.
    const qint64 lastSync = (QDateTime::currentMSecsSinceEpoch() / 1000 + 3600) * 1000;
    QSettings().setValue("clock/lastSyncUtcMs", lastSync);
    app = std::make_unique<ClientApp>(false);
    QAbstractButton* set = button(alert(), "setClockButton");
    QVERIFY(alert()->isVisible() && set && set->isEnabled());
    set->click();
    QCOMPARE(standinCalls(), QStringLiteral("set-time -Time ")
                                 + QDateTime::fromMSecsSinceEpoch(lastSync, Qt::UTC).toString("yyyy-MM-ddTHH:mm:ss")
                                 + QLatin1Char('Z'));
    qputenv("PELLUM_STANDIN_EXIT", "1");
    {
        ModalAnswerer answerer(QStringLiteral("OK"));
        set->click();
        QCOMPARE(answerer.seenTexts, QStringList{QStringLiteral("The administrator step reported an error. The setup script stopped on an unexpected error.")});
        QCOMPARE(answerer.seenParents.value(0), static_cast<QWidget*>(alert()));
    }
}

void TstE2eFlows::wrongStateAlertButtonsAndLink()
{
    // A put-away alert had no way back, its sync and search buttons did nothing the main window could show, or accepting the server's time left the state wrong.
    server->control(QStringLiteral("--offset-ms 3000"));
    QSettings().setValue("clock/lastSyncUtcMs", QDateTime::currentMSecsSinceEpoch() + 90000);
    app = std::make_unique<ClientApp>(false);
    QCOMPARE(app->clockWatcher()->state(), ClockState::Wrong);
    QVERIFY(alert()->isVisible() && window()->isVisible());
    auto* link = window()->findChild<QLabel*>(QStringLiteral("alertLink"));
    QVERIFY(link && !link->isVisible());
    alert()->close();
    QTRY_VERIFY(link->isVisible());
    QVERIFY(QMetaObject::invokeMethod(link, "linkActivated", Q_ARG(QString, QStringLiteral("alert"))));
    QVERIFY(alert()->isVisible() && !link->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(button(alert(), "syncNowButton") && button(alert(), "syncNowButton")->isVisible(), 20000);
    button(alert(), "syncNowButton")->click();
    QCOMPARE(standinCalls(), QStringLiteral("sync"));
    auto* message = window()->findChild<QLabel*>(QStringLiteral("scanMessage"));
    QVERIFY(message && message->text().contains(lan.serverAddr.value(0)));
    window()->showMinimized();
    button(alert(), "searchButton")->click();
    QVERIFY(!alert()->isVisible() && window()->isVisible() && !window()->isMinimized());
    QTRY_VERIFY(link->isVisible());
    // The server now agrees with the clock that went back: its time may be taken.
    server->control(QString());
    QVERIFY(QMetaObject::invokeMethod(link, "linkActivated", Q_ARG(QString, QStringLiteral("alert"))));
    QTRY_VERIFY_WITH_TIMEOUT(button(alert(), "acceptServerTimeButton")
                                 && button(alert(), "acceptServerTimeButton")->isVisible(), 20000);
    button(alert(), "acceptServerTimeButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(app->clockWatcher()->state(), ClockState::Sync, 5000);
    QVERIFY(!alert()->isVisible() && !link->isVisible());
}

void TstE2eFlows::quitFromTrayWhileWatching()
{
    // Closing the window while watching quit the program, or the tray's quit entry did not.
    QSettings().setValue("menuBar/watch", true);
    app = std::make_unique<ClientApp>(false);
    window()->close();
    QVERIFY(!window()->isVisible());
    QVERIFY(app->clientTray() && app->clientTray()->contextMenu());
    QAction* quit = nullptr;
    for (QAction* a : app->clientTray()->contextMenu()->actions())
        if (a->text() == QStringLiteral("Quit Tavrin Pellum"))
            quit = a;
    QVERIFY(quit);
    QTimer::singleShot(300, quit, &QAction::trigger);
    QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(99); }); // safety net
    QCOMPARE(QApplication::exec(), 0);
}

PELLUM_E2E_MAIN(TstE2eFlows, FlowsApp)

#include "tst_e2e_flows.moc"
