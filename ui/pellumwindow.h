#pragma once

#include "discoveredserver.h"
#include "keepingtexts.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QWidget>

class ClockWatcher;
class DiscoveryClient;
class InstLed;
class InstModuleHeader;
class InstReadout;
class InstStatus;
class InstToggle;
class QLabel;
class QPushButton;
class QScreen;
class QScrollArea;
class QTableWidget;
class TimeServiceReader;

// The program's one ordinary window: the clock's standing against its server,
// the servers on the network, the set-up flows and the two switches.
class PellumWindow : public QWidget {
    Q_OBJECT
public:
    explicit PellumWindow(ClockWatcher* watcher, QWidget* parent = nullptr);
    ~PellumWindow() override;

    // Set a switch without raising its signal (the program, not the user, set it).
    void setWatchingOn(bool on);
    void setStartAtLoginOn(bool on);
    void setAlertLinkShown(bool show);

    void refreshToggles();
    void retheme();
    void rescanIfStale();
    int fillServerTable();
    void reloadSetup();
    void updateButtons();
    void runInstall(const QString& address, const QString& label);
    void showSetupDone(const QString& label);

    // Host name of the time server the platform's own time service uses by default.
    static QString standardTimeServer();
    // What the time settings return to when nothing was kept from before.
    static QString standardSettingsName();

    // Whether the operating system keeps the clock, as last worked out.
    const KeepingTexts::Keeping& keeping() const { return keepingNow; }

    // Written by the controller: when set, closing only hides the window.
    bool closeToMenuBar = false;

signals:
    void watchingToggled(bool on);
    void startAtLoginToggled(bool on);
    void closedToMenuBar();
    void alertRequested();
    void historyRequested();
    // What is wrong with the keeping of the clock, for the tray; empty when kept.
    void keepingWarningChanged(const QString& warning);

public slots:
    void startScan();
    void syncNow();
    void onFound(QList<DiscoveredServer> servers);
    void setupSelected();
    void setupManual();
    void removeSetup();
    void updateStatus();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The preferred size within the room the screen has for the window.
    QSize fittedSize() const;
    // `keepPlace` while the user may be dragging the window across screens.
    void fitToScreen(bool keepPlace = false);
    // Fits again when the window's screen, its room or its scale changes.
    void followScreen(QScreen* where);
    void buildWidgets();
    void setUpServerTable();
    void wireSignals();
    int selectedIndex() const;
    // Works out whether the clock is kept and shows it in the "This computer" section.
    void updateKeeping();

    ClockWatcher* watcher = nullptr;
    DiscoveryClient* discovery = nullptr;
    QWidget* content = nullptr;
    QScrollArea* scroller = nullptr;
    QScreen* followedScreen = nullptr;
    InstModuleHeader* header = nullptr;
    InstStatus* statusLine = nullptr;
    InstLed* clockLed = nullptr;
    QLabel* dateLine = nullptr;
    InstReadout* offsetReadout = nullptr;
    InstReadout* lastSyncReadout = nullptr;
    InstReadout* serverHeardReadout = nullptr;
    InstReadout* reportedReadout = nullptr;
    QTableWidget* serverTable = nullptr;
    QPushButton* searchButton = nullptr;
    QPushButton* historyButton = nullptr;
    QPushButton* enterIpButton = nullptr;
    QPushButton* removeButton = nullptr;
    QPushButton* syncNowButton = nullptr;
    QPushButton* setupButton = nullptr;
    QLabel* scanMessage = nullptr;
    QLabel* selfFollowNote = nullptr;
    QLabel* alertLink = nullptr;
    QLabel* setupNote = nullptr;
    InstToggle* watchToggle = nullptr;
    InstToggle* loginToggle = nullptr;
    QLabel* optionalLabel = nullptr;
    QLabel* loginNote = nullptr;
    QLabel* heldNote = nullptr;
    QLabel* serviceNote = nullptr;
    QLabel* keepingWarning = nullptr;
    TimeServiceReader* timeService = nullptr;
    QElapsedTimer sinceServiceRead;
    QElapsedTimer watchedFor;          // since the program started or woke
    qint64 watchedSinceMs = 0;         // the same as wall-clock time
    KeepingTexts::Keeping keepingNow;
    // The record's figures, worked out again only when the record has grown.
    qsizetype recordSeenSize = -1;
    qint64 recordSeenAtMs = 0;
    ClockKeeping::Held heldNow;
    qint64 driftNowUs = 0;

    QList<DiscoveredServer> servers;
    QString currentServer;
    bool hadPreviousSettings = false;
    bool firstShowPending = true;
    QElapsedTimer sinceLastScan;
    bool quietScan = false;
    QString lastScanMessage;
};
