// The pure wire and clock functions at their borders: SNTP, the frame and
// the state classification.

#include "clockstate.h"
#include "frame.h"
#include "sntp.h"

#include <QtEndian>
#include <QtTest>

#include <utility>

namespace {
constexpr qint64 T = 1700000000000;

quint32 be32(const QByteArray& b, int at) { return qFromBigEndian<quint32>(b.constData() + at); }
QByteArray stamp(qint64 ms) { return makeSntpRequest(ms).mid(40, 8); }
// A valid reply to the request sent at t1, stamped t2 (receive) and t3 (transmit).
QByteArray reply(qint64 t1, qint64 t2, qint64 t3) { return QByteArray("\x24\x02", 2) + QByteArray(22, 0) + stamp(t1) + stamp(t2) + stamp(t3); }
QByteArray header(quint8 version, quint8 type, int length)
{
    return QByteArray("TAVR") + char(version) + char(type) + char(length >> 8) + char(length & 0xFF);
}
} // namespace

class TestClockWire : public QObject {
    Q_OBJECT
private slots:
    void sntpTimestamps()
    {
        // Fault: a wrong epoch, fraction or era turns every offset into nonsense.
        const QByteArray req = makeSntpRequest(T + 123);
        QCOMPARE(req.size(), 48);
        QCOMPARE(req.left(2), QByteArray("\x23\x00", 2));
        QCOMPARE(be32(req, 40), 0xE8FE6F80U);
        QCOMPARE(be32(req, 44), 0x1F7CED91U);
        for (qint64 ms = 0; ms < 4000000000000; ms += 123456789017)   // into the 2036 era and back
            QCOMPARE(ntpToUnixMs(be32(makeSntpRequest(ms), 40), be32(makeSntpRequest(ms), 44)), ms);
        QCOMPARE(ntpToUnixMs(0x7FFFFFFFU, 0), (0x17FFFFFFFLL - 2208988800LL) * 1000);   // after 2036, not before 1968
        QCOMPARE(ntpToUnixMs(0x80000000U, 0xFFFFFFFFU) - ntpToUnixMs(0x80000000U, 0), qint64(1000));   // rounds
    }

    void sntpOffsets()
    {
        // Fault: offset sign, rounding or delay handling off.
        struct Row { qint64 t2, t3, t4, offset; };
        for (const Row& r : {Row{T + 50, T + 50, T + 100, 0}, Row{T + 1900, T + 1900, T + 800, 1500},
                             Row{T, T - 3, T, -1}, Row{T, T + 3, T, 1}}) {
            qint64 got = 0;
            QVERIFY(readSntpReply(reply(T, r.t2, r.t3) + QByteArray(20, 'x'), T, r.t4, &got));
            QCOMPARE(got, r.offset);
        }
    }

    void sntpInvalidReplies()
    {
        // Fault: a bogus, foreign or stale reply is taken as a measurement.
        const QByteArray good = reply(T, T, T);
        QList<QByteArray> bad{good.left(47), reply(T - 1, T, T), reply(T + 1, T, T)};
        for (auto [at, value] : {std::pair{0, 0x23}, {0, 0xE4}, {1, 0}, {31, 0xFF}}) {
            bad << good;
            bad.last()[at] = char(value);
        }
        for (const QByteArray& r : bad) {
            qint64 untouched = 7;
            QVERIFY(!readSntpReply(r, T, T, &untouched));
            QCOMPARE(untouched, qint64(7));
        }
    }

    void frameLimits()
    {
        // Fault: a frame that breaks the limits is taken, or a valid one refused.
        const std::pair<QByteArray, bool> rows[] = {
            {header(1, 5, 0).left(7), false}, {"tavr" + header(1, 5, 0).mid(4), false}, {header(2, 5, 0), false},
            {header(1, 4, 0), false}, {header(1, 5, 10) + QByteArray(11, 'a'), false},
            {header(1, 5, 10) + QByteArray(9, 'a'), false}, {header(1, 5, 1025) + QByteArray(1025, 'a'), false},
            {header(1, 5, 1024) + QByteArray(1024, 'a'), true}, {header(1, 5, 0), true}};
        for (const auto& [datagram, accepted] : rows) {
            QCOMPARE(parseFrame(datagram, {5}).has_value(), accepted);
            QCOMPARE(buildFrame(5, datagram.mid(8)) == datagram, accepted);
        }
        QVERIFY(buildFrame(4, QByteArray(1025, 'a')).isEmpty());
        QCOMPARE(buildFrame(4, QByteArray(300, 'a')).mid(6, 2), QByteArray("\x01\x2C"));
    }

    void classificationBorders()
    {
        // Fault: a state border off by one, or Wrong not outranking the rest.
        struct Row { qint64 now; bool heard; qint64 offset; qint64 last; ClockState state; bool wentBack; };
        const Row rows[] = {{T, false, 0, 0, ClockState::None, false},    {T, false, 0, T - 1, ClockState::Lost, false},
                            {T, true, 500, 0, ClockState::Sync, false},   {T, true, -500, 0, ClockState::Sync, false},
                            {T, true, 501, 0, ClockState::Off, false},    {T, true, -501, 0, ClockState::Off, false},
                            {T - 2000, true, 0, T, ClockState::Sync, false}, {T - 2001, true, 500, T, ClockState::Wrong, true},
                            {T - 2001, true, 501, T, ClockState::Wrong, false}, {T - 2001, false, 0, T, ClockState::Wrong, false}};
        for (const Row& r : rows) {
            const ClockReading reading{r.now, r.heard, r.offset, r.last};
            QCOMPARE(classifyReading(reading), r.state);
            QCOMPARE(serverTimeWentBack(reading), r.wentBack);
        }
    }
};

QTEST_GUILESS_MAIN(TestClockWire)
#include "tst_clockwire.moc"
