// Faults of the clock history window where a user meets them: what Copy and
// Save as CSV write, and what a screen reader hears of the chart.
#include "clockwatcher.h"
#include "historycsv.h"
#include "historywindow.h"
#include "inststripchart.h"
#include "../netlan/privateloopback.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr qint64 kMinute = 60000;
QString spoken(QWidget* w, QAccessible::Text what)
{
    return QAccessible::queryAccessibleInterface(w)->text(what);
}
} // namespace

class TstHistory : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        // Each case starts from an empty record, not the one the last case's watcher saved.
        QFile::remove(ClockHistory::defaultFilePath());
    }

    // The export dropped missed probes, wrote local time for UTC, took in state or jump entries, or rows outside the range shown.
    void exportIsTheRangeShown()
    {
        ClockHistory fixed;
        const qint64 t0 = 1796724000000; // 2026-12-08 10:00:00 UTC
        fixed.recordStateChange(t0, ClockState::Sync);
        fixed.recordReply(t0 + 250, 3, 2, ClockState::Sync);
        fixed.recordMissed(t0 + 10250, ClockState::Sync);
        fixed.recordStateChange(t0 + 20250, ClockState::Lost);
        fixed.recordMissed(t0 + 20250, ClockState::Lost);
        fixed.recordClockJump(t0 + 25000, 1500, ClockState::Lost);
        fixed.recordReply(t0 + 30250, -1497, 4, ClockState::Off);
        QCOMPARE(historyCsv(fixed.samples()), QStringLiteral("time,offset_ms,delay_ms,state\n"
                                                             "2026-12-08T10:00:00.250Z,3,2,sync\n"
                                                             "2026-12-08T10:00:10.250Z,,,sync\n"
                                                             "2026-12-08T10:00:20.250Z,,,lost\n"
                                                             "2026-12-08T10:00:30.250Z,-1497,4,off\n"));

        ClockWatcher watcher;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        watcher.history()->recordReply(now - 120 * kMinute, 5, 1, ClockState::Sync);
        watcher.history()->recordReply(now - 30 * kMinute, 6, 1, ClockState::Sync);
        watcher.history()->recordMissed(now - 20 * kMinute, ClockState::Sync);
        HistoryWindow window(&watcher);
        window.setRange(HistoryWindow::Range::Hour);
        QCOMPARE(window.csv().count(QLatin1Char('\n')), 3);
        window.setRange(HistoryWindow::Range::Day);
        QCOMPARE(window.csv().count(QLatin1Char('\n')), 4);
    }

    // The chart's accessible name lacked the figures of the range shown or kept the last range's; the cursor was not spoken.
    void summaryAndCursorAreSpoken()
    {
        ClockWatcher watcher;
        ClockHistory& h = *watcher.history();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        h.recordReply(now - 50 * kMinute, 900, 30, ClockState::Off);
        const qint64 offsets[] = {-3, 1, 1, 4};
        const qint32 delays[] = {2, 2, 3, 1};
        for (int i = 0; i < 4; ++i)
            h.recordReply(now - (5 - i) * kMinute, offsets[i], delays[i], ClockState::Sync);
        h.recordMissed(now - kMinute, ClockState::Sync);
        HistoryWindow window(&watcher);
        window.setRange(HistoryWindow::Range::TenMinutes);
        QCOMPARE(spoken(window.chart(), QAccessible::Name),
                 QStringLiteral("Last 10 minutes: 5 probes, 1 missed, offset median +0.001 s, from \u22120.003 to "
                                "+0.004 s, jitter 0.003 s, median delay 0.002 s"));
        window.setRange(HistoryWindow::Range::Hour);
        QCOMPARE(spoken(window.chart(), QAccessible::Name),
                 QStringLiteral("Last hour: 6 probes, 1 missed, offset median +0.001 s, from \u22120.003 to "
                                "+0.900 s, jitter 0.452 s, median delay 0.002 s"));

        QTest::keyClick(window.chart(), Qt::Key_Left); // the newest reply first
        QVERIFY2(spoken(window.chart(), QAccessible::Description).endsWith(
                     QStringLiteral("offset +0.004 s, delay 0.001 s, In sync")),
                 qPrintable(spoken(window.chart(), QAccessible::Description)));
        QTest::keyClick(window.chart(), Qt::Key_Home);
        QVERIFY(spoken(window.chart(), QAccessible::Description).endsWith(
            QStringLiteral("offset +0.900 s, delay 0.030 s, Clock is off")));
    }
};

int main(int argc, char** argv)
{
    // The watcher's sockets stay in a namespace of their own.
    if (!NetLan::enterPrivateLoopback())
        return 77;
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("data"))));
    QApplication app(argc, argv);
    TstHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history.moc"
