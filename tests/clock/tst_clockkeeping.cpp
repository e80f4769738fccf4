// The keeping rules replayed on recorded days: a probe every 10 s, with the
// jitter of a real network, from clocks kept well and kept badly.

#include "clockkeeping.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <functional>

namespace {

constexpr qint64 kStart = 1796000000000, kMin = 60000, kDay = ClockKeeping::kDayMs;

ClockSample sample(qint64 atMs, qint64 offsetUs, ClockSample::Kind kind = ClockSample::Kind::Reply)
{
    return {atMs, offsetUs, 2000, kind, ClockState::Sync};
}

bool always(qint64) { return true; }

// One day of probes: `offsetUs` the true offset at a moment, `awake` whether
// the program ran and heard the server then, `steps` the clock set by the
// service every half hour.
QVector<ClockSample> day(const std::function<qint64(qint64)>& offsetUs,
                         const std::function<bool(qint64)>& awake = always, qint64 stepUs = 0)
{
    QRandomGenerator noise(31);
    QVector<ClockSample> record;
    for (qint64 t = kStart; t < kStart + kDay; t += 10000) {
        if (stepUs && t > kStart && (t - kStart) % (30 * kMin) == 0)
            record.append(sample(t, stepUs, ClockSample::Kind::ClockJump));
        if (awake(t))
            record.append(sample(t, offsetUs(t) + noise.bounded(-1500, 1500)));
    }
    return record;
}

// The rule as the window runs it, every ten minutes of the day: the largest
// drift it reported, and when it first did.
std::pair<qint64, qint64> worstDrift(const QVector<ClockSample>& record)
{
    qint64 worst = 0, first = 0;
    for (qint64 now = kStart; now <= kStart + kDay; now += 10 * kMin) {
        const auto end = std::upper_bound(record.begin(), record.end(), now, [](qint64 t, const ClockSample& s) { return t < s.atMs; });
        const qint64 drift = ClockKeeping::uncorrectedDriftUs(QVector<ClockSample>(record.begin(), end), now);
        first = first ? first : drift ? now : 0;
        worst = std::llabs(drift) > std::llabs(worst) ? drift : worst;
    }
    return {worst, first};
}

// A clock gaining `ppm` that the service pulls back every half hour.
qint64 sawtooth(qint64 t, qint64 ppm) { return (t - kStart) % (30 * kMin) * ppm / 1000; }
qint64 drifting(qint64 t) { return (t - kStart) * 40 / 1000; }   // 144 ms an hour

} // namespace

class TestClockKeeping : public QObject {
    Q_OBJECT
private slots:
    // Fault: a well-kept clock, or a break in the watching, reads as drifting.
    void keptDaysNeverWarn_data()
    {
        QTest::addColumn<QVector<ClockSample>>("record");
        QTest::newRow("sawtooth, 72 ms a tooth") << day([](qint64 t) { return sawtooth(t, 40); });
        QTest::newRow("sawtooth, 108 ms a tooth") << day([](qint64 t) { return sawtooth(t, 60); });
        QTest::newRow("stepped every half hour") << day([](qint64 t) { return sawtooth(t, 90); }, always, -162000);
        QVector<ClockSample> held = day([](qint64) { return 0; });
        held[held.size() - 20].offsetUs = 300000;   // one reply held up on the network
        QTest::newRow("held within 1 ms") << held;
        QTest::newRow("quit 20 min every 3 h") << day([](qint64 t) { return sawtooth(t, 60); },
                                                      [](qint64 t) { return (t - kStart) % (180 * kMin) > 20 * kMin; });
        // A night asleep: the clock wakes 200 ms off and the service corrects it.
        QTest::newRow("sleep") << day([](qint64 t) { return t < kStart + 482 * kMin ? 200000 : 0; },
                                      [](qint64 t) { return t < kStart + 120 * kMin || t > kStart + 480 * kMin; });
    }
    void keptDaysNeverWarn()
    {
        QFETCH(QVector<ClockSample>, record);
        QCOMPARE(worstDrift(record).first, qint64(0));
    }

    // Fault: a clock that nothing corrects drifts on without a word, or late replies hide it.
    void driftingDayWarnsWithinTheHour()
    {
        QVector<ClockSample> record = day(drifting);
        for (int i = 50; i < record.size(); i += 97)
            record[i].offsetUs -= 80000;
        const auto [worst, first] = worstDrift(record);
        QVERIFY2(worst > 140000 && worst < 148000, qPrintable(QString::number(worst)));
        QCOMPARE(first, kStart + 60 * kMin);
        QVERIFY(worstDrift(day([](qint64 t) { return -drifting(t); })).first < -140000);   // the worst drift
    }

    // Fault: the section claims a figure it cannot back, or over the wrong span.
    void heldWithinTheLastHourOrDay()
    {
        const QVector<ClockSample> record = day([](qint64 t) { return t < kStart + 60 * kMin ? 40000 : 0; });
        const ClockKeeping::Held wholeDay = ClockKeeping::heldWithin(record, kStart + kDay);
        QVERIFY(wholeDay.known && wholeDay.spanMs == kDay && wholeDay.largestUs >= 39000 && wholeDay.largestUs <= 42000);
        const ClockKeeping::Held hour = ClockKeeping::heldWithin(record.mid(0, 3 * 360), kStart + 180 * kMin);
        QVERIFY(hour.spanMs == ClockKeeping::kHourMs && hour.largestUs <= 1500);
        // Half a minute of replies, or none in the last hour: nothing claimed.
        QVERIFY(!ClockKeeping::heldWithin(record.mid(0, 3), kStart + 30000).known);
        QVERIFY(!ClockKeeping::heldWithin(record.mid(0, 360), kStart + 180 * kMin).known);
    }
};

QTEST_GUILESS_MAIN(TestClockKeeping)
#include "tst_clockkeeping.moc"
