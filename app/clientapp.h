#pragma once

#include "clockstate.h"

#include <QDateTime>
#include <QObject>

class AlertWindow;
class ClientTray;
class ClockWatcher;
class HistoryWindow;
class PellumWindow;
class QLocalServer;

// The one controller: owns the watcher, the windows and, while watching,
// the tray, and carries out what reaches beyond one window.
class ClientApp : public QObject {
    Q_OBJECT
public:
    explicit ClientApp(bool launchedAtLogin, QObject* parent = nullptr);
    ~ClientApp() override;

    void start(QLocalServer* server);
    void setWatching(bool on);

    bool runsAtLogin() const;
    void setRunAtLogin(bool on);
    void setStartAtLogin(bool on);
    void askStartAtLogin();
    void applyPendingStartAtLogin();

    // Read access for the tests; changes nothing.
    ClockWatcher* clockWatcher() const { return watcher; }
    PellumWindow* mainWindow() const { return window; }
    AlertWindow* alert() const { return alertWindow; }
    HistoryWindow* history() const { return historyWindow; }
    ClientTray* clientTray() const { return tray; }
    bool isWatching() const { return watching; }
    QLocalServer* server() const { return instanceServer; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showMainWindow();
    void showAlertWindow();
    void showHistoryWindow();
    void followClockState(ClockState state);
    void updateAlertLink();
    void quitIfNothingShown();
    void keepWayBack();
    void followNotificationArea();
    void setClock(const QDateTime& utc);

    bool launchedAtLogin = false;
    ClockWatcher* watcher = nullptr;
    QLocalServer* instanceServer = nullptr;
    bool watching = false;
    PellumWindow* window = nullptr;
    AlertWindow* alertWindow = nullptr;
    // Made the first time it is asked for: unopened, it costs nothing.
    HistoryWindow* historyWindow = nullptr;
    ClientTray* tray = nullptr;
    bool hadNotificationArea = false;
};
