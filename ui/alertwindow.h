#pragma once

#include <QDateTime>
#include <QPointer>
#include <QWidget>

class ClockWatcher;
class InstLed;
class QBoxLayout;
class QDateEdit;
class QLabel;
class QPushButton;
class QScrollArea;
class QTimeEdit;

// The red window raised when the clock reads earlier than its last sync.
// It only asks; the controller carries every request out.
class AlertWindow : public QWidget {
    Q_OBJECT
public:
    enum Action : int {
        NoAction = 0,
        SyncNowAction = 1,
        AcceptServerTimeAction = 2,
    };

    explicit AlertWindow(ClockWatcher* watcher, QWidget* parent = nullptr);

    void refresh();

    // What the action button does at the moment; read by tests.
    Action action() const { return static_cast<Action>(actionCode); }
    // The entered date and time as local time.
    QDateTime enteredLocal() const;

signals:
    void setClockRequested(QDateTime utc);
    void shownOrPutAway();
    void syncNowRequested();
    void searchRequested();
    void acceptServerTimeRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildLayout();
    void onSetClicked();
    void onActionClicked();
    void updateSetButton();
    // Takes the preferred width and the height the texts need, within the
    // room the screen leaves; what does not fit scrolls. `arrange` also
    // puts the set button under the editors when the row is too wide.
    void fitToScreen(bool arrange);

    QPointer<ClockWatcher> watcher;
    QScrollArea* scroller = nullptr;
    QBoxLayout* editRow = nullptr;
    InstLed* clockDisplay = nullptr;
    QLabel* clockLine = nullptr;
    QLabel* explanation = nullptr;
    QLabel* serverStatus = nullptr;
    QLabel* note = nullptr;
    QDateEdit* dateEditor = nullptr;
    QTimeEdit* timeEditor = nullptr;
    QPushButton* setButton = nullptr;
    QPushButton* actionButton = nullptr;
    QPushButton* searchButton = nullptr;
    bool editorsFilled = false;
    qint32 actionCode = NoAction;
    QDateTime lastSync;
};
