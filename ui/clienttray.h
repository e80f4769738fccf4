#pragma once

#include "clockstate.h"

#include <QObject>
#include <QPointer>
#include <QPixmap>
#include <QString>

class ClockWatcher;
class QIcon;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// The lamp in the notification area while the user keeps watching. It only
// asks; the controller decides what the requests do.
class ClientTray : public QObject {
    Q_OBJECT
public:
    ClientTray(ClockWatcher* watcher, QObject* parent);
    ~ClientTray() override;

    static QString stateWord(ClockState state);
    static QPixmap paintLamp(ClockState state, bool lit, bool darkInk, int size, double scale);
    // The tray's icon: the lamp painted at each size asked of it.
    static QIcon lampIcon(ClockState state, bool lit, bool darkInk);
    // Light scheme reported by the platform (on older Qt guessed from the palette).
    static bool systemSchemeIsLight();
    // A notification area to show the lamp in; the offscreen platform counts,
    // having no task bar to fall back on either.
    static bool hasNotificationArea();

    static constexpr int kOffBlinkMs = 900;
    static constexpr int kWrongBlinkMs = 450;

    // Read access for the controller's and the tests' eyes; changes nothing.
    QMenu* contextMenu() const { return menu; }
    QSystemTrayIcon* icon() const { return trayIcon; }
    QTimer* blinker() const { return blinkTimer; }
    bool lampLit() const { return lit; }
    bool inkIsDark() const { return darkInk; }
    QString stateLine() const;
    QString lastSyncLine() const;
    // What is wrong with the keeping of the clock, said in the tooltip too; empty when kept.
    void setKeepingWarning(const QString& warning);

signals:
    void openRequested();
    void historyRequested();
    void alertRequested();
    void syncNowRequested();
    void quitRequested();

private:
    void refresh();
    ClockState shownState() const;

    QPointer<ClockWatcher> watcher;
    QSystemTrayIcon* trayIcon = nullptr;
    QMenu* menu = nullptr;
    QAction* statusAction = nullptr;
    QAction* lastSyncAction = nullptr;
    QAction* syncNowAction = nullptr;
    QAction* alertAction = nullptr;
    QTimer* blinkTimer = nullptr;
    bool lit = true;
    bool darkInk = false;
    QString keepingWarning;
};
