// The pure wire and clock functions at their borders: SNTP, the frame, the
// state classification, discovery's answer rules and its merge per server.

#include "clockstate.h"
#include "discoverymessages.h"
#include "frame.h"
#include "heardservers.h"
#include "sntp.h"

#include <QtEndian>
#include <QtTest>

#include <climits>
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
std::optional<DiscoveredServer> read(quint8 type, const QByteArray& body, const QString& from = "10.0.0.1")
{
    return readDiscoveryAnswer(buildFrame(type, body), "beef", from);
}

DiscoveredServer heard(const QString& id, const QString& address, const QString& name = "n")
{
    DiscoveredServer s;
    return s.id = id, s.address = address, s.name = name, s;
}
} // namespace

class TestWire : public QObject {
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

    void sntpReplies()
    {
        // Fault: offset sign, rounding or delay handling off (the server's hold counted as network), or a bogus, foreign or stale reply taken.
        struct Row { qint64 t2, t3, t4, offsetUs, delay; };
        for (const Row& r : {Row{T + 50, T + 50, T + 100, 0, 100}, Row{T + 1900, T + 1900, T + 800, 1500000, 800},
                             Row{T, T - 3, T, -1500, 3}, Row{T, T + 3, T, 1500, 0}, Row{T + 1500, T + 1700, T + 300, 1450000, 100}}) {
            QVERIFY(readSntpReply(reply(T, r.t2, r.t3) + QByteArray(20, 'x'), T, r.t4, nullptr));   // the probe's check
            SntpMeasurement m;
            QVERIFY(readSntpReplyNs(reply(T, r.t2, r.t3), T * 1000000, r.t4 * 1000000, &m));
            QCOMPARE(m.offsetUs, r.offsetUs);
            QCOMPARE(m.delayUs, r.delay * 1000);
        }
        // and a bogus, foreign or stale reply is never taken as a measurement.
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

    void subMillisecondSweep()
    {
        // Fault: times cut to whole milliseconds and the sum halved as integers, so a perfect LAN reads a bias of +0.4 ms.
        const auto stampNs = [](qint64 ns) { QByteArray b(8, 0); qToBigEndian<quint64>(unixNsToNtp(ns), b.data()); return b; };
        qint64 sum = 0;
        for (int i = 0; i < 1000; ++i) {
            const qint64 t1 = T * 1000000 + i * 10000000000LL + (i * 7919 % 1000) * 1000 + i % 7;   // every phase of a millisecond
            const qint64 t2 = t1 + 100000, t3 = t2 + 37000, t4 = t3 + 100000;   // offset 0, delay 0.2 ms
            const QByteArray r = QByteArray("\x24\x02", 2) + QByteArray(22, 0) + makeSntpRequestNs(t1).mid(40, 8) + stampNs(t2) + stampNs(t3);
            SntpMeasurement m;
            QVERIFY(readSntpReplyNs(r, t1, t4, &m));
            QVERIFY2(qAbs(m.offsetUs) <= 1 && qAbs(m.delayUs - 200) <= 1, qPrintable(QStringLiteral("%1 %2").arg(m.offsetUs).arg(m.delayUs)));
            sum += m.offsetUs;
        }
        QVERIFY(qAbs(sum) / 1000 < 100);   // mean bias under 0.1 ms
        QVERIFY(!readSntpReplyNs(makeSntpRequestNs(T * 1000000 + 1), T * 1000000, T * 1000000, nullptr));   // a request is no reply
    }

    void frameLimits()
    {
        // Fault: a frame that breaks the limits is taken, or a valid one refused.
        const std::pair<QByteArray, bool> rows[] = {
            {header(1, 5, 0).left(7), false}, {"tavr" + header(1, 5, 0).mid(4), false}, {header(2, 5, 0), false},
            {header(1, 4, 0), false}, {header(1, 5, 10) + QByteArray(11, 'a'), false},
            {header(1, 5, 10) + QByteArray(9, 'a'), false}, {header(1, 5, 1025) + QByteArray(1025, 'a'), false},
            {header(1, 5, 1024) + QByteArray(1024, 'a'), true}, {header(1, 5, 300) + QByteArray(300, 'a'), true},
            {header(1, 5, 0), true}};
        for (const auto& [datagram, accepted] : rows) {
            QCOMPARE(parseFrame(datagram, {5}).has_value(), accepted);
            QCOMPARE(buildFrame(5, datagram.mid(8)) == datagram, accepted);
        }
        QVERIFY(buildFrame(4, QByteArray(1025, 'a')).isEmpty());
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

    void answers()
    {
        // Fault: a stale, foreign or malformed answer listed, a valid one dropped, or a mistyped key taken as a value.
        struct Row { quint8 type; QByteArray body; bool accepted; };
        for (const Row& r : {Row{3, R"({"nonce":"beef"})", true}, Row{3, R"({"nonce":"BEEF"})", false}, Row{3, "{}", false},
                             Row{3, R"({"nonce":48879})", false}, Row{2, R"({"nonce":"old"})", true}, Row{5, "{}", false},
                             Row{2, "", false}, Row{2, "{id:", false}, Row{2, "[1]", false}, Row{2, "{}x", false},
                             Row{2, R"({"p":")" + QByteArray(1016, 'p') + R"("})", true}})   // a 1024-byte body
            QVERIFY2(read(r.type, r.body).has_value() == r.accepted, r.body.left(40));
        // A missing or mistyped key is no value; a mapped IPv4 sender is stored plain.
        auto s = read(2, R"({"id":"s1","name":"Lab","source":"gps","ver":"2","stratum":1,"clients":17,)"
                         R"("synced":true,"accepting":true,"steady":true})");
        QVERIFY(s && s->id == "s1" && s->name == "Lab" && s->source == "gps" && s->ver == "2");
        QVERIFY(s->stratum == 1 && s->clients == 17 && s->synced && s->accepting && s->steady);
        s = read(2, R"({"id":7,"name":{},"source":1,"stratum":2.5,"clients":2147483648,"synced":1,"steady":"true"})",
                 "::ffff:10.0.0.5");
        QVERIFY(s && s->id == "10.0.0.5" && s->address == "10.0.0.5" && s->name == "(unnamed)" && s->source.isEmpty());
        QVERIFY(s->stratum == 0 && s->clients == 0 && !s->synced && !s->steady);
        s = read(2, R"({"name":"","clients":-2147483648,"stratum":3.0})");
        QVERIFY(s && s->name.isEmpty() && s->clients == INT_MIN && s->stratum == 3);
    }

    void heardServers()
    {
        // Fault: the heard list unbounded, records lost or mixed in a merge, or settled at a silent address or out of order.
        HeardServerMap map;
        for (int i = 0; i < 64; ++i)
            QVERIFY(recordAnswer(map, heard(QString::number(i), "10.0.0.1")));
        QVERIFY(!recordAnswer(map, heard("new", "10.0.0.2")));
        for (int i = 2; i <= 14; ++i)
            QVERIFY(recordAnswer(map, heard("5", QStringLiteral("10.0.0.%1").arg(i), "Latest")));
        QCOMPARE(map.size(), 64);
        QCOMPARE(map["5"].addresses.size(), 12);
        QVERIFY(map["5"].addresses.first() == "10.0.0.1" && map["5"].latest.address == "10.0.0.14" && map["5"].latest.name == "Latest");
        // Settled: each server at an address that answered, in name order.
        map.clear();
        map["a"] = {heard("a", "x", "beta"), {"127.0.0.1", "10.0.0.1", "10.0.0.2"}};
        map["b"] = {heard("b", "x", "Alpha"), {"127.0.0.1", "10.0.0.3"}};
        map["c"] = {heard("c", "x", "alpha2"), {"127.0.0.1", "127.0.0.2"}};
        const QList<DiscoveredServer> list = settleHeardServers(map, {"10.0.0.2", "10.0.0.9"});
        QCOMPARE(list.size(), 3);
        QVERIFY(list[0].name == "Alpha" && list[0].address == "10.0.0.3" && !list[0].answered);
        QVERIFY(list[1].name == "alpha2" && list[1].address == "127.0.0.1" && !list[1].answered);
        QVERIFY(list[2].name == "beta" && list[2].address == "10.0.0.2" && list[2].answered);
        QCOMPARE(settleHeardServers(map, {"127.0.0.1"})[2].address, QStringLiteral("127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(TestWire)
#include "tst_wire.moc"
