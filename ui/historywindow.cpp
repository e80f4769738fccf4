#include "historywindow.h"

#include "clockwatcher.h"
#include "historycsv.h"
#include "inst.h"
#include "screenfit.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QSize kPreferredSize(880, 560);
// Room kept for the window manager's frame.
const QMargins kFrameAllowance(0, 32, 0, 0);
static_assert(HistoryRuns::kJoinedWithinMs == 2 * ClockWatcher::kProbeMs + 5000,
              "a run holds replies at most two probes and a bit apart");
const QColor kJumpColor(255, 69, 58);

QLabel* makeLabel(const QFont& font, const char* tone, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    Inst::setTone(label, tone);
    return label;
}

QPushButton* makeButton(const QString& text, Inst::ButtonRole role, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    Inst::styleButton(button, role);
    return button;
}

} // namespace

HistoryWindow::HistoryWindow(ClockWatcher* watcher, QWidget* parent)
    : QWidget(parent)
    , watcher_(watcher)
{
    setWindowTitle(QStringLiteral("Clock history - Tavrin Pellum"));
    Inst::ensureFonts();
    buildWidgets();
    retheme();

    connect(watcher_->history(), &ClockHistory::recorded, this, [this] { scheduleRefresh(); });
    auto* scheme = new Inst::SchemeWatcher(this);
    connect(scheme, &Inst::SchemeWatcher::schemeChanged, this, [this] {
        Inst::setDark(Inst::wantsDark());
        retheme();
    });
    connect(new QShortcut(QKeySequence::Copy, this), &QShortcut::activated, this, &HistoryWindow::copyCsv);
    connect(new QShortcut(QKeySequence::Save, this), &QShortcut::activated, this, &HistoryWindow::saveCsv);
    resize(kPreferredSize);
}

HistoryWindow::~HistoryWindow() = default;

qint64 HistoryWindow::rangeMs(Range range)
{
    switch (range) {
    case Range::TenMinutes: return 10LL * 60 * 1000;
    case Range::Hour: return 60LL * 60 * 1000;
    case Range::Day: break;
    }
    return ClockHistory::kKeepMs;
}

QString HistoryWindow::rangeName(Range range)
{
    switch (range) {
    case Range::TenMinutes: return QStringLiteral("Last 10 minutes");
    case Range::Hour: return QStringLiteral("Last hour");
    case Range::Day: break;
    }
    return QStringLiteral("Last 24 hours");
}

void HistoryWindow::buildWidgets()
{
    auto* windowLayout = new QVBoxLayout(this);
    windowLayout->setContentsMargins(0, 0, 0, 0);
    content_ = new QWidget(this);
    windowLayout->addWidget(content_);
    auto* column = new QVBoxLayout(content_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    header_ = new InstModuleHeader(QStringLiteral("Clock history"), content_);
    // The appearance is chosen in the main window; this one follows it.
    header_->appearanceSelector()->hide();
    column->addWidget(header_);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 10, 12, 0);
    body->setSpacing(8);
    column->addLayout(body, 1);

    auto* rangeRow = new QHBoxLayout;
    rangeRow->setSpacing(6);
    rangeButtons_ = new QButtonGroup(this);
    const QString rangeTexts[] = {QStringLiteral("10 MIN"), QStringLiteral("1 HOUR"), QStringLiteral("24 HOURS")};
    for (int i = 0; i < 3; ++i) {
        QPushButton* b = makeButton(rangeTexts[i], Inst::ButtonRole::Segment, content_);
        b->setAccessibleName(rangeName(Range(i)));
        rangeButtons_->addButton(b, i);
        rangeRow->addWidget(b);
    }
    rangeButtons_->button(int(range_))->setChecked(true);
    connect(rangeButtons_, &QButtonGroup::idClicked, this, [this](int id) { setRange(Range(id)); });
    rangeRow->addStretch();
    cursorLine_ = makeLabel(Inst::monoFont(11.5, 500, 0), "sec", content_);
    rangeRow->addWidget(cursorLine_);
    body->addLayout(rangeRow);

    auto* screen = new InstScreen(content_);
    auto* screenLayout = new QVBoxLayout(screen);
    screenLayout->setContentsMargins(6, 6, 10, 6);
    chart_ = new InstStripChart(screen);
    chart_->setBand(kSyncToleranceMs, QStringLiteral("in sync \u00b10.5 s"));
    chart_->setLaneNames(QStringLiteral("Offset"), QStringLiteral("Delay"));
    chart_->setEmptyText(QStringLiteral("No reply from a server in this range yet"));
    chart_->setLegendNames(QStringLiteral("not heard"), QStringLiteral("state change"), QStringLiteral("clock set"));
    screenLayout->addWidget(chart_);
    body->addWidget(screen, 1);
    connect(chart_, &InstStripChart::cursorMoved, this, &HistoryWindow::showCursor);

    auto* bar = new InstReadoutBar(content_);
    probesReadout_ = bar->addReadout(QStringLiteral("Probes"), 8);
    missedReadout_ = bar->addReadout(QStringLiteral("Missed"), 8);
    medianReadout_ = bar->addReadout(QStringLiteral("Median"), 10);
    lowestReadout_ = bar->addReadout(QStringLiteral("Lowest"), 10);
    highestReadout_ = bar->addReadout(QStringLiteral("Highest"), 10);
    jitterReadout_ = bar->addReadout(QStringLiteral("Jitter"), 10);
    delayReadout_ = bar->addReadout(QStringLiteral("Median delay"), 12);
    medianReadout_->setToolTip(QStringLiteral("Offsets of the range shown: positive means this computer's clock is behind."));
    jitterReadout_->setToolTip(QStringLiteral("How much the offset changes from one reply to the next."));
    delayReadout_->setToolTip(QStringLiteral("Round trip of a probe to the server and back."));
    body->addWidget(bar);

    auto* actionBar = new QWidget(content_);
    auto* actions = new QHBoxLayout(actionBar);
    actions->setContentsMargins(12, 8, 12, 12);
    actions->setSpacing(8);
    copyButton_ = makeButton(QStringLiteral("Copy"), Inst::ButtonRole::Plain, actionBar);
    copyButton_->setToolTip(QStringLiteral("Copy the probes of the range shown as CSV."));
    saveButton_ = makeButton(QStringLiteral("Save as CSV\u2026"), Inst::ButtonRole::Plain, actionBar);
    closeButton_ = makeButton(QStringLiteral("Close"), Inst::ButtonRole::Plain, actionBar);
    note_ = makeLabel(Inst::uiFont(11.5, 400), "muted", actionBar);
    actions->addWidget(copyButton_);
    actions->addWidget(saveButton_);
    actions->addWidget(note_, 1);
    actions->addWidget(closeButton_);
    column->addWidget(actionBar);
    connect(copyButton_, &QPushButton::clicked, this, &HistoryWindow::copyCsv);
    connect(saveButton_, &QPushButton::clicked, this, &HistoryWindow::saveCsv);
    connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);

    QWidget* order[] = {rangeButtons_->button(0), rangeButtons_->button(1), rangeButtons_->button(2),
                        chart_, copyButton_, saveButton_, closeButton_};
    for (size_t i = 1; i < sizeof(order) / sizeof(order[0]); ++i)
        setTabOrder(order[i - 1], order[i]);
    showCursor(-1);
}

void HistoryWindow::setRange(Range range)
{
    range_ = range;
    if (QAbstractButton* b = rangeButtons_->button(int(range)))
        b->setChecked(true);
    chart_->setCursorIndex(-1);
    refresh();
}

void HistoryWindow::scheduleRefresh()
{
    // Closed, the window costs nothing; it reads the record when shown.
    if (!isVisible() || refreshPending_)
        return;
    refreshPending_ = true;
    QTimer::singleShot(0, this, [this] {
        refreshPending_ = false;
        refresh();
    });
}

void HistoryWindow::refresh()
{
    // The record's timeline, not the wall clock: a clock set back or forward
    // moves the offset trace, never the axis.
    const qint64 now = watcher_->history()->nowMs();
    const qint64 from = now - rangeMs(range_);
    shown_ = watcher_->history()->between(from, now);
    const QString label = watcher_->serverLabel();
    if (!label.isEmpty())
        header_->setSubtitle(label);

    QVector<InstStripChart::Sample> samples;
    QVector<InstStripChart::Span> gaps;
    QVector<InstStripChart::Mark> marks;
    chartStates_.clear();
    HistoryRuns runs;
    qint64 missedFrom = 0;  // start of the gap being built; 0: none
    for (const ClockSample& s : shown_) {
        const bool newRun = runs.startsRun(s);
        switch (s.kind) {
        case ClockSample::Kind::Reply: {
            InstStripChart::Sample c;
            c.utcMs = s.atMs;
            c.value = double(s.offsetUs) / 1000.0;
            c.second = double(s.delayUs) / 1000.0;
            c.breakBefore = newRun;
            samples.append(c);
            chartStates_.append(s.state);
            if (missedFrom != 0)
                gaps.append({missedFrom, s.atMs});
            missedFrom = 0;
            break;
        }
        case ClockSample::Kind::Missed:
            // From the first probe that went unanswered.
            if (missedFrom == 0)
                missedFrom = std::max(s.atMs, from);
            break;
        case ClockSample::Kind::StateChange:
            marks.append({s.atMs, stateColor(s.state), false, stateTrayWord(s.state)});
            break;
        case ClockSample::Kind::ClockJump:
            marks.append({s.atMs, kJumpColor, true,
                          QStringLiteral("clock set %1").arg(HistoryFigures::signedSeconds(double(s.offsetUs) / 1000.0))});
            break;
        case ClockSample::Kind::Start:
            break;
        }
    }
    if (missedFrom != 0)
        gaps.append({missedFrom, now});
    chart_->setTimeRange(from, now);
    chart_->setData(samples, gaps, marks);
    figures_ = HistoryFigures::of(shown_);
    showFigures();
    note_->clear();
}

void HistoryWindow::showFigures()
{
    const HistoryFigures& f = figures_;
    probesReadout_->setValue(QString::number(f.probes));
    missedReadout_->setValue(QString::number(f.missed));
    missedReadout_->led()->setState(f.missed > 0 ? InstLed::Warn : InstLed::Go);
    InstReadout* secondsReadouts[] = {medianReadout_, lowestReadout_, highestReadout_, jitterReadout_, delayReadout_};
    if (f.replies == 0) {
        for (InstReadout* r : secondsReadouts)
            r->setValue(QStringLiteral("none"));
    } else {
        medianReadout_->setValue(HistoryFigures::signedSeconds(f.medianOffsetMs));
        lowestReadout_->setValue(HistoryFigures::signedSeconds(f.lowestOffsetMs));
        highestReadout_->setValue(HistoryFigures::signedSeconds(f.highestOffsetMs));
        jitterReadout_->setValue(HistoryFigures::seconds(f.jitterMs));
        delayReadout_->setValue(HistoryFigures::seconds(f.medianDelayMs));
    }
    const QString summary = f.summary(rangeName(range_));
    chart_->setAccessibleName(summary);
    chart_->setToolTip(summary);
}

void HistoryWindow::showCursor(int index)
{
    if (index < 0 || index >= chart_->samples().size()) {
        cursorLine_->setText(QStringLiteral("\u2190 \u2192 step through the samples"));
        Inst::setTone(cursorLine_, "muted");
        chart_->setAccessibleDescription(QString());
        return;
    }
    const InstStripChart::Sample& s = chart_->samples().at(index);
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(s.utcMs);
    const QString when = at.toString(range_ == Range::Day ? QStringLiteral("ddd HH:mm:ss") : QStringLiteral("HH:mm:ss"));
    const QString offset = HistoryFigures::signedSeconds(s.value);
    const QString delay = HistoryFigures::seconds(s.second);
    const QString state = stateTrayWord(chartStates_.value(index));
    cursorLine_->setText(QStringLiteral("%1  \u00b7  offset %2  \u00b7  delay %3  \u00b7  %4").arg(when, offset, delay, state));
    Inst::setTone(cursorLine_, "sec");
    const QString spoken = QStringLiteral("%1, offset %2, delay %3, %4").arg(when, offset, delay, state);
    chart_->setAccessibleDescription(spoken);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QAccessibleAnnouncementEvent announcement(chart_, spoken);
    QAccessible::updateAccessibility(&announcement);
#endif
}

QString HistoryWindow::csv() const
{
    return historyCsv(shown_);
}

void HistoryWindow::copyCsv()
{
    QGuiApplication::clipboard()->setText(csv());
    note_->setText(QStringLiteral("Copied %1 rows of the %2.").arg(figures_.probes).arg(rangeName(range_).toLower()));
}

void HistoryWindow::saveCsv()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!QDir(folder).exists())
        folder = QDir::homePath();
    const QString suggested = QDir(folder).filePath(
        QStringLiteral("clock-history-%1.csv").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm"))));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save as CSV"), suggested,
                                                      QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    // Written whole or not at all: a half file is worse than none.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv().toUtf8()) < 0 || !file.commit()) {
        QMessageBox::warning(this, QStringLiteral("Tavrin Pellum"),
                             QStringLiteral("The clock history could not be saved to %1: %2")
                                 .arg(QDir::toNativeSeparators(path), file.errorString()));
        return;
    }
    note_->setText(QStringLiteral("Saved %1 rows to %2.").arg(figures_.probes).arg(QDir::toNativeSeparators(path)));
}

void HistoryWindow::followThemeOf(QWidget* other)
{
    if (other)
        other->installEventFilter(this);
}

bool HistoryWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Applying a theme sets a new sheet on the window, which tells it so.
    if (watched != this && event->type() == QEvent::StyleChange && !themePending_) {
        themePending_ = true;
        QTimer::singleShot(0, this, [this] {
            themePending_ = false;
            retheme();
        });
    }
    return QWidget::eventFilter(watched, event);
}

void HistoryWindow::retheme()
{
    appliedDark_ = Inst::colors().dark;
    Inst::applyTheme(this);
}

void HistoryWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (appliedDark_ != Inst::colors().dark)
        retheme();
    refresh();
    fitToScreen();
    chart_->setFocus(Qt::OtherFocusReason);
}

void HistoryWindow::fitToScreen()
{
    const QScreen* where = screen();
    if (!where)
        return;
    const QRect room = where->availableGeometry();
    const QSize inner = room.marginsRemoved(kFrameAllowance).size();
    const QSize wanted = size().boundedTo(inner).expandedTo(minimumSizeHint());
    if (wanted != size())
        resize(wanted);
    moveOntoScreen(this);
}

void HistoryWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
