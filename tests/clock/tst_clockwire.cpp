// The pure wire and clock functions at their borders: SNTP, the frame, the
// state classification and the report body.

#include "clockstate.h"
#include "frame.h"
#include "sntp.h"
#include "statusreport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <utility>

namespace {
constexpr qint64 T = 1700000000000;

quint32 be32(const QByteArray& b, int at)
{
    return quint32(quint8(b[at])) << 24 | quint32(quint8(b[at + 1])) << 16 | quint32(quint8(b[at + 2])) << 8
        | quint8(b[at + 3]);
}

// A valid reply to the request sent at t1, stamped t2 (receive) and t3 (transmit).
QByteArray reply(qint64 t1, qint64 t2, qint64 t3)
{
    QByteArray r(48, '\0');
    r[0] = char(0x24);
    r[1] = char(2);
    r.replace(24, 8, makeSntpRequest(t1).mid(40, 8));
    r.replace(32, 8, makeSntpRequest(t2).mid(40, 8));
    r.replace(40, 8, makeSntpRequest(t3).mid(40, 8));
    return r;
}

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

    void sntpOffsets_data()
    {
        QTest::addColumn<qint64>("t2");
        QTest::addColumn<qint64>("t3");
        QTest::addColumn<qint64>("t4");
        QTest::addColumn<qint64>("offset");
        QTest::newRow("midpoint") << T + 50 << T + 50 << T + 100 << qint64(0);
        QTest::newRow("1500 ahead, long delay") << T + 1900 << T + 1900 << T + 800 << qint64(1500);
        QTest::newRow("sum -3") << T << T - 3 << T << qint64(-1);
        QTest::newRow("sum 3") << T << T + 3 << T << qint64(1);
    }
    void sntpOffsets()
    {
        // Fault: offset sign, rounding or delay handling off.
        QFETCH(qint64, t2);
        QFETCH(qint64, t3);
        QFETCH(qint64, t4);
        QFETCH(qint64, offset);
        qint64 got = 0;
        QVERIFY(readSntpReply(reply(T, t2, t3) + QByteArray(20, 'x'), T, t4, &got));
        QCOMPARE(got, offset);
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

    void frameLimits_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("7 bytes") << header(1, 5, 0).left(7) << false;
        QTest::newRow("magic case") << QByteArray("tavr") + header(1, 5, 0).mid(4) << false;
        QTest::newRow("version 2") << header(2, 5, 0) << false;
        QTest::newRow("type not taken") << header(1, 4, 0) << false;
        QTest::newRow("length 10, 11 follow") << header(1, 5, 10) + QByteArray(11, 'a') << false;
        QTest::newRow("length 10, 9 follow") << header(1, 5, 10) + QByteArray(9, 'a') << false;
        QTest::newRow("length 1025") << header(1, 5, 1025) + QByteArray(1025, 'a') << false;
        QTest::newRow("length 1024") << header(1, 5, 1024) + QByteArray(1024, 'a') << true;
        QTest::newRow("length 0") << header(1, 5, 0) << true;
    }
    void frameLimits()
    {
        // Fault: a frame that breaks the limits is taken, or a valid one refused.
        QFETCH(QByteArray, datagram);
        QFETCH(bool, accepted);
        QCOMPARE(parseFrame(datagram, {5}).has_value(), accepted);
        if (accepted)
            QCOMPARE(buildFrame(5, datagram.mid(8)), datagram);
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

    void reportBodyKeys()
    {
        // Fault: a key sent when its value is unknown, or ".local" cut in the wrong case.
        StatusReportFields f;
        f.clientId = "id";
        f.hostName = "desk.local";
        f.reading = {T + 1, false, 5, 0};
        QCOMPARE(statusReportBody(f), QByteArray(R"({"id":"id","name":"desk","os":"","state":"none","t":1700000000001,"ver":""})"));
        f.hostName = "desk.LOCAL";
        f.bye = true;
        f.reading = {T, true, -42, T + 1999};
        f.server = QHostAddress("10.1.2.3");
        const QJsonObject o = QJsonDocument::fromJson(statusReportBody(f)).object();
        QCOMPARE(o.value("name").toString(), QStringLiteral("desk.LOCAL"));
        QCOMPARE(o.value("bye"), QJsonValue(true));
        QCOMPARE(o.value("offset_ms").toDouble(), -42.0);
        QCOMPARE(o.value("last_sync").toDouble(), 1700000001.0);
        QCOMPARE(o.value("server").toString(), QStringLiteral("10.1.2.3"));
    }
};

QTEST_GUILESS_MAIN(TestClockWire)
#include "tst_clockwire.moc"
