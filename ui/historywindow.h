#pragma once

#include "clockhistory.h"
#include "historyfigures.h"

#include <QVector>
#include <QWidget>

class ClockWatcher;
class InstModuleHeader;
class InstReadout;
class InstStripChart;
class QButtonGroup;
class QLabel;
class QPushButton;

// The clock against its server over the last 10 minutes, hour or day: the
// strip chart, the figures of the range shown, and its export.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    enum class Range : int { TenMinutes = 0, Hour = 1, Day = 2 };

    explicit HistoryWindow(ClockWatcher* watcher, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    Range range() const { return range_; }
    void setRange(Range range);
    static qint64 rangeMs(Range range);
    static QString rangeName(Range range);

    // Takes the theme over each time the other window's theme is applied.
    void followThemeOf(QWidget* other);

    // What the window shows, for the tests' and the controller's eyes.
    InstStripChart* chart() const { return chart_; }
    const HistoryFigures& figures() const { return figures_; }
    QString csv() const;

public slots:
    // Reads the record again; runs on show and when an entry is recorded.
    void refresh();
    void copyCsv();
    void saveCsv();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildWidgets();
    void showFigures();
    void showCursor(int index);
    void scheduleRefresh();
    void retheme();
    void fitToScreen();

    ClockWatcher* watcher_ = nullptr;
    Range range_ = Range::Hour;
    QVector<ClockSample> shown_;
    // The state in force after each sample the chart shows.
    QVector<ClockState> chartStates_;
    HistoryFigures figures_;
    bool refreshPending_ = false;
    bool themePending_ = false;
    bool appliedDark_ = false;

    QWidget* content_ = nullptr;
    InstModuleHeader* header_ = nullptr;
    QButtonGroup* rangeButtons_ = nullptr;
    InstStripChart* chart_ = nullptr;
    InstReadout* probesReadout_ = nullptr;
    InstReadout* missedReadout_ = nullptr;
    InstReadout* medianReadout_ = nullptr;
    InstReadout* lowestReadout_ = nullptr;
    InstReadout* highestReadout_ = nullptr;
    InstReadout* jitterReadout_ = nullptr;
    InstReadout* delayReadout_ = nullptr;
    QLabel* cursorLine_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* copyButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};
