// The keeping rules replayed on recorded days: a probe every 10 s, with the
// jitter of a real network, from clocks kept well and kept badly.

#include "clockkeeping.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <functional>

namespace {

constexpr qint64 kProbeMs = 10000;
constexpr qint64 kStartMs = 1796000000000;   // any day will do
constexpr qint64 kMinuteMs = 60000;

ClockSample reply(qint64 atMs, qint64 offsetUs)
{
    ClockSample s;
    s.utcMs = atMs;
    s.offsetMs = offsetUs / 1000;
    s.delayMs = 2;
    s.kind = ClockSample::Kind::Reply;
    s.state = ClockState::Sync;
    return s;
}

ClockSample jump(qint64 atMs, qint64 byUs)
{
    ClockSample s = reply(atMs, byUs);
    s.kind = ClockSample::Kind::ClockJump;
    return s;
}

// One day of probes; `offsetUsAt` gives the true offset at a moment, and
// `awake` whether the program was running and heard the server then.
QVector<ClockSample> day(const std::function<qint64(qint64)>& offsetUsAt,
                         const std::function<bool(qint64)>& awake = [](qint64) { return true; })
{
    QRandomGenerator noise(31);
    QVector<ClockSample> record;
    for (qint64 t = kStartMs; t < kStartMs + ClockKeeping::kDayMs; t += kProbeMs) {
        if (awake(t))
            record.append(reply(t, offsetUsAt(t) + noise.bounded(-1500, 1500)));
    }
    return record;
}

// Evaluated as the window does, every ten minutes of the day: the largest
// drift the rule reported, and the first moment it did.
std::pair<qint64, qint64> worstDrift(const QVector<ClockSample>& record)
{
    qint64 worst = 0, first = 0;
    for (qint64 now = kStartMs; now <= kStartMs + ClockKeeping::kDayMs; now += 10 * kMinuteMs) {
        QVector<ClockSample> sofar;
        for (const ClockSample& s : record) {
            if (s.utcMs <= now)
                sofar.append(s);
        }
        const qint64 drift = ClockKeeping::uncorrectedDriftUs(sofar, now);
        if (drift && !first)
            first = now;
        if (std::llabs(drift) > std::llabs(worst))
            worst = drift;
    }
    return {worst, first};
}

// A clock gaining `ppm` that the service pulls back every 30 minutes.
qint64 sawtooth(qint64 t, double ppm) { return qint64(((t - kStartMs) % (30 * kMinuteMs)) * ppm / 1000.0); }

} // namespace

class TestClockKeeping : public QObject {
    Q_OBJECT
private slots:
    // Fault: a well-kept clock, or a break in the watching, reads as drifting.
    void keptDaysNeverWarn_data()
    {
        QTest::addColumn<QVector<ClockSample>>("record");
        // 40 ppm pulled back every half hour: 72 ms up, then down again.
        QTest::newRow("sawtooth") << day([](qint64 t) { return sawtooth(t, 40); });
        // The same sawtooth at 60 ppm: each tooth alone passes 100 ms.
        QTest::newRow("steep sawtooth") << day([](qint64 t) { return sawtooth(t, 60); });
        QTest::newRow("held within 1 ms") << day([](qint64) { return 0; });
        // The service steps the clock back every half hour; the watcher records each step.
        QVector<ClockSample> stepped = day([](qint64 t) { return sawtooth(t, 90); });
        for (qint64 t = kStartMs + 30 * kMinuteMs; t < kStartMs + ClockKeeping::kDayMs; t += 30 * kMinuteMs)
            stepped.append(jump(t, -162000));
        std::sort(stepped.begin(), stepped.end(), [](const ClockSample& a, const ClockSample& b) { return a.utcMs < b.utcMs; });
        QTest::newRow("stepped") << stepped;
        // Pellum quit for 20 minutes while the clock ran free, then started again.
        QTest::newRow("restart") << day([](qint64 t) { return sawtooth(t, 60); },
                                        [](qint64 t) { return (t - kStartMs) % (3 * 60 * kMinuteMs) > 20 * kMinuteMs; });
        // A night asleep: the clock wakes 200 ms off and the service corrects it.
        QTest::newRow("sleep") << day([](qint64 t) {
            const qint64 wake = kStartMs + 8 * 60 * kMinuteMs;
            return t < wake ? sawtooth(t, 40) : t < wake + 2 * kMinuteMs ? 200000 : 0; },
                                      [](qint64 t) { return t < kStartMs + 2 * 60 * kMinuteMs || t > kStartMs + 8 * 60 * kMinuteMs; });
    }
    void keptDaysNeverWarn()
    {
        QFETCH(QVector<ClockSample>, record);
        QCOMPARE(worstDrift(record).first, qint64(0));
    }

    // Fault: a clock that nothing corrects drifts on without a word.
    void driftingDayWarnsWithinTheHour()
    {
        // 40 ppm: 144 ms an hour, never corrected.
        const auto [worst, first] = worstDrift(day([](qint64 t) { return (t - kStartMs) * 40 / 1000; }));
        QVERIFY2(worst > 140000 && worst < 148000, qPrintable(QString::number(worst)));
        QCOMPARE(first, kStartMs + 60 * kMinuteMs);
        // Drifting the other way is just as much not kept.
        QVERIFY(worstDrift(day([](qint64 t) { return -(t - kStartMs) * 40 / 1000; })).first < 0);
    }

    // Fault: one reply held up on the network passes for a correction, or for drift.
    void oneLateReplyChangesNothing()
    {
        QVector<ClockSample> drifting = day([](qint64 t) { return (t - kStartMs) * 40 / 1000; });
        for (int i = 50; i < drifting.size(); i += 97)
            drifting[i].offsetMs -= 80;
        QVERIFY(worstDrift(drifting).first > 0);
        QVector<ClockSample> kept = day([](qint64) { return 0; });
        kept[kept.size() - 20].offsetMs = 300;
        QCOMPARE(worstDrift(kept).first, qint64(0));
    }

    // Fault: the section claims a figure it cannot back, or the wrong span.
    void heldWithinTheLastHourOrDay()
    {
        const QVector<ClockSample> record = day([](qint64 t) { return t < kStartMs + 60 * kMinuteMs ? 40000 : 0; });
        const qint64 end = kStartMs + ClockKeeping::kDayMs;
        // A full day: the first hour's 40 ms counts.
        ClockKeeping::Held held = ClockKeeping::heldWithin(record, end);
        QVERIFY(held.known);
        QCOMPARE(held.spanMs, ClockKeeping::kDayMs);
        QVERIFY(held.largestUs >= 39000 && held.largestUs <= 42000);
        // Three hours in: the last hour only, within the noise.
        held = ClockKeeping::heldWithin(record.mid(0, 3 * 360), kStartMs + 3 * 60 * kMinuteMs);
        QCOMPARE(held.spanMs, ClockKeeping::kHourMs);
        QVERIFY(held.largestUs <= 1500);
        // Half a minute of replies, or none in the last hour: nothing claimed.
        QVERIFY(!ClockKeeping::heldWithin(record.mid(0, 3), kStartMs + 30000).known);
        QVERIFY(!ClockKeeping::heldWithin(record.mid(0, 360), kStartMs + 3 * 60 * kMinuteMs).known);
    }
};

QTEST_GUILESS_MAIN(TestClockKeeping)
#include "tst_clockkeeping.moc"
