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
#include <QImage>
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

    // The export dropped missed probes, wrote local time for UTC, whole milliseconds or bare LF line ends, or took in state or jump entries.
    void exportIsTheRangeShown()
    {
        ClockHistory fixed;
        const qint64 t0 = 1796724000000; // 2026-12-08 10:00:00 UTC
        fixed.recordStateChange(t0, ClockState::Sync);
        fixed.recordReply(t0 + 250, 3412, 250, ClockState::Sync);
        fixed.recordMissed(t0 + 10250, ClockState::Sync);
        fixed.recordStateChange(t0 + 20250, ClockState::Lost);
        fixed.recordMissed(t0 + 20250, ClockState::Lost);
        fixed.recordClockJump(t0 + 25000, 1500000, ClockState::Lost);
        fixed.recordReply(t0 + 30250, -1497001, 4000, ClockState::Off);
        QCOMPARE(historyCsv(fixed.samples()), QStringLiteral("time,offset_ms,delay_ms,state\r\n"
                                                             "2026-12-08T10:00:00.250Z,3.412,0.250,sync\r\n"
                                                             "2026-12-08T10:00:10.250Z,,,sync\r\n"
                                                             "2026-12-08T10:00:20.250Z,,,lost\r\n"
                                                             "2026-12-08T10:00:30.250Z,-1497.001,4.000,off\r\n"));
    }

    // The chart's accessible name or the export lacked the figures of the range shown or took rows outside it, the name kept the last range's, or counted a restart or a gap as jitter; the cursor was not spoken.
    void summaryAndCursorAreSpoken()
    {
        ClockWatcher watcher;
        ClockHistory& h = *watcher.history();
        const qint64 now = h.nowMs();
        h.recordReply(now - 120 * kMinute, 5, 1, ClockState::Sync);   // in the day's export only
        h.recordReply(now - 50 * kMinute, 900000, 30000, ClockState::Off);
        const qint64 offsets[] = {-310, 120, 130, 412};
        const qint32 delays[] = {250, 260, 300, 180};
        const qint64 run = now - 5 * kMinute;
        for (int i = 0; i < 4; ++i)
            h.recordReply(run + i * 10000, offsets[i], delays[i], ClockState::Sync);
        h.recordStart(run + 35000, ClockState::Sync);   // a restart, then another offset
        h.recordReply(run + 40000, 5000, 200, ClockState::Sync);
        h.recordMissed(now - kMinute, ClockState::Sync);
        HistoryWindow window(&watcher);
        window.setRange(HistoryWindow::Range::TenMinutes);
        QCOMPARE(spoken(window.chart(), QAccessible::Name),
                 QStringLiteral("Last 10 minutes: 6 probes, 1 missed, offset median +0.130 ms, from \u22120.310 to "
                                "+5.000 ms, jitter 0.297 ms, median delay 0.250 ms"));
        window.setRange(HistoryWindow::Range::Hour);
        QCOMPARE(spoken(window.chart(), QAccessible::Name),
                 QStringLiteral("Last hour: 7 probes, 1 missed, offset median +0.271 ms, from \u22120.310 to "
                                "+900.0 ms, jitter 0.297 ms, median delay 0.255 ms"));
        QCOMPARE(window.csv().count(QLatin1Char('\n')), 8);   // the heading, 6 replies and the missed probe
        window.setRange(HistoryWindow::Range::Day);
        QCOMPARE(window.csv().count(QLatin1Char('\n')), 9);
        window.setRange(HistoryWindow::Range::Hour);

        QTest::keyClick(window.chart(), Qt::Key_Left); // the newest reply first
        QVERIFY2(spoken(window.chart(), QAccessible::Description).endsWith(
                     QStringLiteral("offset +5.000 ms, delay 0.200 ms, In sync")),
                 qPrintable(spoken(window.chart(), QAccessible::Description)));
        QTest::keyClick(window.chart(), Qt::Key_Home);
        QVERIFY(spoken(window.chart(), QAccessible::Description).endsWith(
            QStringLiteral("offset +900.0 ms, delay 30.0 ms, Clock is off")));
    }

    // A clock-set label at the right edge ran out of the plot; on the day the clocks change the ticks left the local whole hours.
    void chartKeepsItsLabels()
    {
        InstStripChart chart;
        chart.resize(640, 260);
        const qint64 from = 1796724000000;
        chart.setTimeRange(from, from + 3600000);
        const QColor red(255, 69, 58);
        chart.setData({{from + 60000, 1.0}}, {}, {{from + 3600000 - 1000, red, true, QStringLiteral("clock set \u221260 min")}});
        const QImage image = chart.grab().toImage();
        int outside = 0;
        for (int x = chart.width() - 4; x < chart.width(); ++x)
            for (int y = 0; y < image.height(); ++y) {
                const QColor c = image.pixelColor(x, y);
                outside += c.red() > 200 && c.green() < 140 && c.blue() < 140;
            }
        QCOMPARE(outside, 0);

        const qint64 springForward = 1774738800000;   // 2026-03-29 00:00 in Berlin, 02:00 is 03:00
        for (qint64 step : {3600000LL, 3 * 3600000LL}) {
            const QVector<qint64> ticks = InstStripChart::timeTicks(springForward, springForward + 12 * 3600000, step);
            QVERIFY(ticks.size() >= 11 * 3600000 / step);
            for (qint64 t : ticks) {
                const QTime local = QDateTime::fromMSecsSinceEpoch(t).time();
                QVERIFY2(local.minute() == 0 && local.hour() % (step / 3600000) == 0, qPrintable(local.toString()));
            }
        }
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
    qputenv("TZ", "Europe/Berlin");   // the ticks are tested across a change of the clocks
    QApplication app(argc, argv);
    TstHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history.moc"
