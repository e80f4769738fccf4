#include "sntp.h"

#include <QtTest>

namespace {

void putBe32(QByteArray* b, int at, quint32 v)
{
    (*b)[at] = char(v >> 24);
    (*b)[at + 1] = char(v >> 16);
    (*b)[at + 2] = char(v >> 8);
    (*b)[at + 3] = char(v);
}

void putTs(QByteArray* b, int at, qint64 unixMs)
{
    const quint64 ts = unixMsToNtp(unixMs);
    putBe32(b, at, quint32(ts >> 32));
    putBe32(b, at + 4, quint32(ts));
}

// A well-formed reply to the request made at sendMs, from a server whose
// receive and transmit times are given.
QByteArray replyFor(qint64 sendMs, qint64 t2, qint64 t3)
{
    QByteArray r(48, '\0');
    r[0] = char((0 << 6) | (4 << 3) | 4);
    r[1] = char(2);
    const QByteArray request = makeSntpRequest(sendMs);
    r.replace(24, 8, request.mid(40, 8));
    putTs(&r, 32, t2);
    putTs(&r, 40, t3);
    return r;
}

quint32 be32(const QByteArray& b, int at)
{
    return (quint32(quint8(b[at])) << 24) | (quint32(quint8(b[at + 1])) << 16) | (quint32(quint8(b[at + 2])) << 8)
        | quint32(quint8(b[at + 3]));
}

} // namespace

class TestSntp : public QObject {
    Q_OBJECT
private slots:
    void requestLayout()
    {
        const QByteArray req = makeSntpRequest(1700000000123);
        QCOMPARE(req.size(), 48);
        QCOMPARE(quint8(req[0]), quint8(0x23));
        for (int i = 1; i < 40; ++i)
            QCOMPARE(int(req[i]), 0);
        QCOMPARE(be32(req, 40), 3908988800U);
        QCOMPARE(be32(req, 40), 0xE8FE6F80U);
        QCOMPARE(be32(req, 44), 528280977U);
        QCOMPARE(be32(req, 44), 0x1F7CED91U);
        QCOMPARE(ntpToUnixMs(be32(req, 40), be32(req, 44)), qint64(1700000000123));
    }

    void roundTripOverManyTimes()
    {
        for (qint64 ms = 1000000000000; ms < 4000000000000; ms += 123456789017) {
            const QByteArray req = makeSntpRequest(ms);
            QCOMPARE(ntpToUnixMs(be32(req, 40), be32(req, 44)), ms);
        }
    }

    void eraRule()
    {
        // Below 2^31 seconds: after 2036-02-07, not before 1968.
        QCOMPARE(ntpToUnixMs(0, 0), qint64(4294967296LL * 1000 - 2208988800000LL));
        QCOMPARE(ntpToUnixMs(0x7FFFFFFFU, 0), qint64((4294967296LL + 0x7FFFFFFFLL) * 1000 - 2208988800000LL));
        QCOMPARE(ntpToUnixMs(0x80000000U, 0), qint64(0x80000000LL * 1000 - 2208988800000LL));
        // A request made after the era change carries the wrapped seconds.
        const qint64 in2040 = 2208988800000LL; // 2040-01-01
        const QByteArray req = makeSntpRequest(in2040);
        QVERIFY(be32(req, 40) < 0x80000000U);
        QCOMPARE(ntpToUnixMs(be32(req, 40), be32(req, 44)), in2040);
    }

    void fractionRoundsToNearestMillisecond()
    {
        QCOMPARE(ntpToUnixMs(0x80000000U, 0xFFFFFFFFU) - ntpToUnixMs(0x80000000U, 0), qint64(1000));
        QCOMPARE(ntpToUnixMs(0x80000000U, 0x80000000U) - ntpToUnixMs(0x80000000U, 0), qint64(500));
    }

    void validReplyOffsets_data()
    {
        QTest::addColumn<qint64>("t1");
        QTest::addColumn<qint64>("t2");
        QTest::addColumn<qint64>("t3");
        QTest::addColumn<qint64>("t4");
        QTest::addColumn<qint64>("offset");
        const qint64 t = 1700000000000;
        QTest::newRow("midpoint") << t << t + 50 << t + 50 << t + 100 << qint64(0);
        QTest::newRow("ahead 1500 short") << t << t + 1510 << t + 1510 << t + 20 << qint64(1500);
        QTest::newRow("ahead 1500 long") << t << t + 1900 << t + 1900 << t + 800 << qint64(1500);
        QTest::newRow("behind") << t << t - 700 << t - 690 << t + 10 << qint64(-700);
        QTest::newRow("sum -3") << t << t << t - 3 << t << qint64(-1);
        QTest::newRow("sum 3") << t << t << t + 3 << t << qint64(1);
    }

    void validReplyOffsets()
    {
        QFETCH(qint64, t1);
        QFETCH(qint64, t2);
        QFETCH(qint64, t3);
        QFETCH(qint64, t4);
        QFETCH(qint64, offset);
        qint64 got = 12345;
        QVERIFY(readSntpReply(replyFor(t1, t2, t3), t1, t4, &got));
        QCOMPARE(got, offset);
        QVERIFY(readSntpReply(replyFor(t1, t2, t3), t1, t4, nullptr));
    }

    void longerReplyReadAsFirst48Bytes()
    {
        const qint64 t = 1700000000000;
        QByteArray r = replyFor(t, t + 5, t + 5);
        r.append(QByteArray(20, '\x7f'));
        qint64 got = 0;
        QVERIFY(readSntpReply(r, t, t + 10, &got));
        QCOMPARE(got, qint64(0));
    }

    void invalidReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        const qint64 t = 1700000000000;
        const QByteArray good = replyFor(t, t, t);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("47 bytes") << good.left(47);
        QByteArray r = good;
        r[0] = char((4 << 3) | 3);
        QTest::newRow("mode 3") << r;
        r = good;
        r[0] = char((4 << 3) | 5);
        QTest::newRow("mode 5") << r;
        r = good;
        r[0] = char((3 << 6) | (4 << 3) | 4);
        QTest::newRow("leap 3") << r;
        r = good;
        r[1] = 0;
        QTest::newRow("stratum 0") << r;
        for (int i = 24; i < 32; ++i) {
            r = good;
            r[i] = char(r[i] ^ 0x10);
            QTest::newRow(qPrintable(QStringLiteral("origin byte %1").arg(i))) << r;
        }
        QTest::newRow("earlier request") << replyFor(t - 1, t, t);
        QTest::newRow("later request") << replyFor(t + 1, t, t);
        QTest::newRow("all zero") << QByteArray(48, '\0');
    }

    void invalidReplies()
    {
        QFETCH(QByteArray, reply);
        const qint64 t = 1700000000000;
        qint64 untouched = 777;
        QVERIFY(!readSntpReply(reply, t, t + 10, &untouched));
        QCOMPARE(untouched, qint64(777));
        QVERIFY(!readSntpReply(reply, t, t + 10, nullptr));
    }

    void fieldsNotReadAreIgnored()
    {
        const qint64 t = 1700000000000;
        QByteArray r = replyFor(t, t + 100, t + 100);
        r[0] = char((1 << 6) | (1 << 3) | 4); // leap 1, version 1
        for (int i = 2; i < 24; ++i)
            r[i] = char(0xA5);
        qint64 got = 0;
        QVERIFY(readSntpReply(r, t, t, &got));
        QCOMPARE(got, qint64(100));
    }
};

QTEST_GUILESS_MAIN(TestSntp)
#include "tst_sntp.moc"
