#include "clientapp.h"

#include "adminstep.h"
#include "alertwindow.h"
#include "clienttray.h"
#include "clockwatcher.h"
#include "historywindow.h"
#include "loginentry.h"
#include "pellumwindow.h"
#include "singleinstance.h"

#include <QApplication>
#include <QCursor>
#include <QLocalServer>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

namespace {
const char kWatchKey[] = "menuBar/watch";
const char kStartAtLoginAfterMoveKey[] = "menuBar/startAtLoginAfterMove";
// The platform tells of a notification area only when asked: asked this often.
constexpr int kNotificationAreaPollMs = 3000;

// show() alone leaves a minimised window in the task bar.
void bringUp(QWidget* w)
{
    w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
}
}

ClientApp::ClientApp(bool launchedAtLogin, QObject* parent)
    : QObject(parent)
    , launchedAtLogin(launchedAtLogin)
{
    watcher = new ClockWatcher(this);
    window = new PellumWindow(watcher);
    alertWindow = new AlertWindow(watcher);
    // The permission prompt belongs to the window the user acted in (the
    // alert's clock setting, a flow of the main window), else to the main
    // window while it is shown.
    AdminStep::setPromptOwner([this]() -> quintptr {
        QWidget* owner = QApplication::activeWindow();
        if (!owner && window && window->isVisible())
            owner = window;
        return owner ? quintptr(owner->window()->winId()) : 0;
    });

    connect(window, &PellumWindow::watchingToggled, this, [this](bool on) {
        setWatching(on);
        if (on && !runsAtLogin())
            askStartAtLogin();
    });
    connect(window, &PellumWindow::startAtLoginToggled, this, [this](bool on) { setStartAtLogin(on); });
    qApp->installEventFilter(this);
    connect(watcher, &ClockWatcher::stateChanged, this, [this](ClockState s) { followClockState(s); });
    connect(alertWindow, &AlertWindow::setClockRequested, this, [this](const QDateTime& utc) { setClock(utc); });
    connect(alertWindow, &AlertWindow::syncNowRequested, window, &PellumWindow::syncNow);
    connect(alertWindow, &AlertWindow::searchRequested, this, [this] {
        alertWindow->hide();
        bringUp(window);
        window->startScan();
    });
    connect(window, &PellumWindow::alertRequested, this, [this] { showAlertWindow(); });
    connect(window, &PellumWindow::historyRequested, this, [this] { showHistoryWindow(); });
    connect(alertWindow, &AlertWindow::shownOrPutAway, this, [this] {
        updateAlertLink();
        quitIfNothingShown();
    });
    connect(watcher, &ClockWatcher::stateChanged, this, [this] { updateAlertLink(); });
    connect(alertWindow, &AlertWindow::acceptServerTimeRequested, watcher, &ClockWatcher::resetLastSync);

    const bool watch = QSettings().value(QLatin1String(kWatchKey), false).toBool();
    window->setWatchingOn(watch);
    setWatching(watch);
    applyPendingStartAtLogin();
    window->setStartAtLoginOn(watch ? runsAtLogin() : false);
    if (!(watch && launchedAtLogin))
        showMainWindow();
    else
        keepWayBack();
    followClockState(watcher->state());
    // A panel may come up after the program, or quit under a hidden window.
    hadNotificationArea = ClientTray::hasNotificationArea();
    auto* areaPoll = new QTimer(this);
    connect(areaPoll, &QTimer::timeout, this, [this] { followNotificationArea(); });
    areaPoll->start(kNotificationAreaPollMs);
}

ClientApp::~ClientApp()
{
    qApp->removeEventFilter(this);
    AdminStep::setPromptOwner(nullptr);
    delete historyWindow;
    historyWindow = nullptr;
    delete alertWindow;
    alertWindow = nullptr;
    delete window;
    window = nullptr;
}

void ClientApp::start(QLocalServer* server)
{
    instanceServer = server;
    if (!server)
        return;
    server->setParent(this);
    answerShowRequests(server, this, [this] { showMainWindow(); });
}

void ClientApp::setWatching(bool on)
{
    const bool old = watching;
    watching = on;
    QSettings().setValue(QLatin1String(kWatchKey), on);
    qApp->setQuitOnLastWindowClosed(!on);
    if (window)
        window->closeToMenuBar = on;
    watcher->setReporting(on);
    if (on && !tray) {
        tray = new ClientTray(watcher, this);
        connect(tray, &ClientTray::openRequested, this, [this] { showMainWindow(); });
        connect(tray, &ClientTray::alertRequested, this, [this] { showAlertWindow(); });
        connect(tray, &ClientTray::historyRequested, this, [this] { showHistoryWindow(); });
        connect(tray, &ClientTray::syncNowRequested, window, &PellumWindow::syncNow);
        connect(tray, &ClientTray::quitRequested, qApp, &QCoreApplication::quit);
        connect(window, &PellumWindow::keepingWarningChanged, tray, &ClientTray::setKeepingWarning);
        tray->setKeepingWarning(window->keeping().warning);
    }
    if (!on && tray) {
        delete tray;
        tray = nullptr;
    }
    if (old && !on) {
        setRunAtLogin(false);
        if (window)
            window->setStartAtLoginOn(false);
    }
}

bool ClientApp::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::Quit && window)
        window->closeToMenuBar = false;
    return QObject::eventFilter(watched, event);
}

void ClientApp::showMainWindow()
{
    bringUp(window);
    if (watcher->state() == ClockState::Wrong && !alertWindow->isVisible())
        showAlertWindow();
}

void ClientApp::showAlertWindow()
{
    bringUp(alertWindow);
}

void ClientApp::showHistoryWindow()
{
    if (!historyWindow) {
        historyWindow = new HistoryWindow(watcher);
        historyWindow->followThemeOf(window);
    }
    bringUp(historyWindow);
}

void ClientApp::followClockState(ClockState state)
{
    if (state == ClockState::Wrong)
        showAlertWindow();
    else if (alertWindow->isVisible())
        alertWindow->hide();
}

void ClientApp::quitIfNothingShown()
{
    // Without watching there is no lamp: a process with no window left could
    // only be found in a process list. Looked at once the current reaction is
    // over, which may show the other window (the alert's search button).
    QTimer::singleShot(0, this, [this] {
        if (!watching && !window->isVisible() && !alertWindow->isVisible()
            && !(historyWindow && historyWindow->isVisible()))
            QCoreApplication::quit();
    });
}

void ClientApp::keepWayBack()
{
    // Watching where there is no lamp: the task bar is the only way back, so
    // the main window is minimised rather than hidden.
    if (watching && !window->isVisible() && !alertWindow->isVisible() && !ClientTray::hasNotificationArea())
        window->showMinimized();
}

void ClientApp::followNotificationArea()
{
    const bool area = ClientTray::hasNotificationArea();
    if (area != hadNotificationArea) {
        hadNotificationArea = area;
        window->refreshToggles();
        // Minimised only for want of a lamp: put away, as at a start with the area there.
        if (area && watching && window->isMinimized())
            window->hide();
    }
    keepWayBack();
}

void ClientApp::updateAlertLink()
{
    window->setAlertLinkShown(watcher->state() == ClockState::Wrong && !alertWindow->isVisible());
}

void ClientApp::setClock(const QDateTime& utc)
{
    QString message;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const AdminStepResult result = setSystemClock(utc, &message);
    QApplication::restoreOverrideCursor();
    if (result == AdminStepResult::Failed && !message.isEmpty())
        QMessageBox::warning(alertWindow, QStringLiteral("Tavrin Pellum"), message, QMessageBox::Ok);
    watcher->onProbe();
}

// Start at login

bool ClientApp::runsAtLogin() const
{
    return LoginEntry::exists();
}

void ClientApp::setRunAtLogin(bool on)
{
    if (on)
        LoginEntry::write(QCoreApplication::applicationFilePath());
    else
        LoginEntry::remove();
}

void ClientApp::setStartAtLogin(bool on)
{
    if (!on) {
        setRunAtLogin(false);
        window->setStartAtLoginOn(false);
        return;
    }
    setRunAtLogin(true);
    // Show what really got written, not just the click.
    window->setStartAtLoginOn(runsAtLogin());
}

void ClientApp::askStartAtLogin()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Tavrin Pellum"),
                    QStringLiteral("Start Pellum at login?"), QMessageBox::NoButton, window);
    box.setInformativeText(QStringLiteral(
        "Pellum then comes back in the menu bar by itself each time you log in to this computer."));
    QPushButton* yes = box.addButton(QStringLiteral("Start at Login"), QMessageBox::AcceptRole);
    QPushButton* no = box.addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.setObjectName(QStringLiteral("startAtLoginQuestion"));
    box.exec();
    if (box.clickedButton() == yes)
        setStartAtLogin(true);
}

void ClientApp::applyPendingStartAtLogin()
{
    QSettings settings;
    if (!settings.value(QLatin1String(kStartAtLoginAfterMoveKey), false).toBool())
        return;
    settings.remove(QLatin1String(kStartAtLoginAfterMoveKey));
    if (watching)
        setRunAtLogin(true);
}
