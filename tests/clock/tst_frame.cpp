#include "frame.h"

#include <QJsonDocument>
#include <QtTest>

namespace {

QByteArray header(const char* magic, quint8 version, quint8 type, int length)
{
    QByteArray h(magic, 4);
    h.append(char(version));
    h.append(char(type));
    h.append(char((length >> 8) & 0xFF));
    h.append(char(length & 0xFF));
    return h;
}

} // namespace

class TestFrame : public QObject {
    Q_OBJECT
private slots:
    void buildsHeaderAndBody()
    {
        const QByteArray frame = buildFrame(4, "{\"id\":\"x\"}");
        QCOMPARE(frame, header("TAVR", 1, 4, 10) + "{\"id\":\"x\"}");
    }

    void lengthIsBigEndian()
    {
        const QByteArray frame = buildFrame(5, QByteArray(300, 'a'));
        QCOMPARE(frame.size(), 308);
        QCOMPARE(quint8(frame[6]), quint8(0x01));
        QCOMPARE(quint8(frame[7]), quint8(0x2C));
    }

    void sizeLimits()
    {
        QCOMPARE(buildFrame(4, QByteArray(1024, 'a')).size(), 1032);
        QVERIFY(buildFrame(4, QByteArray(1025, 'a')).isEmpty());
        QCOMPARE(buildFrame(4, QByteArray()).size(), 8);
    }

    void roundTrip()
    {
        for (int size : {0, 1, 255, 256, 1023, 1024}) {
            const QByteArray body(size, 'z');
            const auto parsed = parseFrame(buildFrame(3, body), {2, 3});
            QVERIFY(parsed.has_value());
            QCOMPARE(int(parsed->type), 3);
            QCOMPARE(parsed->body, body);
        }
    }

    void emptyBodyIsNoObject()
    {
        const auto parsed = parseFrame(buildFrame(5, {}), {5});
        QVERIFY(parsed.has_value());
        QVERIFY(parsed->body.isEmpty());
        QVERIFY(!QJsonDocument::fromJson(parsed->body).isObject());
    }

    void dropped_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        const QByteArray good = buildFrame(5, "0123456789");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("7 bytes") << good.left(7);
        QTest::newRow("magic case") << header("tavr", 1, 5, 10) + "0123456789";
        QTest::newRow("other magic") << header("TAVS", 1, 5, 10) + "0123456789";
        QTest::newRow("version 0") << header("TAVR", 0, 5, 10) + "0123456789";
        QTest::newRow("version 2") << header("TAVR", 2, 5, 10) + "0123456789";
        QTest::newRow("type not accepted") << buildFrame(4, "0123456789");
        QTest::newRow("type 0") << header("TAVR", 1, 0, 10) + "0123456789";
        QTest::newRow("11 bytes follow a length of 10") << header("TAVR", 1, 5, 10) + "0123456789A";
        QTest::newRow("9 bytes follow a length of 10") << header("TAVR", 1, 5, 10) + "012345678";
        QTest::newRow("length 1025") << header("TAVR", 1, 5, 1025) + QByteArray(1025, 'a');
        QTest::newRow("length 65535") << header("TAVR", 1, 5, 65535) + QByteArray(100, 'a');
        QTest::newRow("header only, length 1") << header("TAVR", 1, 5, 1);
    }

    void dropped()
    {
        QFETCH(QByteArray, datagram);
        QVERIFY(!parseFrame(datagram, {5}).has_value());
    }

    void longDatagramReadAsFirst1032Bytes()
    {
        // Receivers read at most 1032 bytes; what is cut off is never seen.
        const QByteArray full = header("TAVR", 1, 5, 1024) + QByteArray(1100, 'a');
        QVERIFY(parseFrame(full.left(kFrameMaxSize), {5}).has_value());
        const QByteArray shorter = header("TAVR", 1, 5, 1000) + QByteArray(1100, 'a');
        QVERIFY(!parseFrame(shorter.left(kFrameMaxSize), {5}).has_value());
    }

    void acceptedTypeSets()
    {
        QVERIFY(parseFrame(buildFrame(2, "{}"), {2, 3}).has_value());
        QVERIFY(!parseFrame(buildFrame(1, "{}"), {2, 3}).has_value());
        QVERIFY(!parseFrame(buildFrame(5, "{}"), {}).has_value());
    }
};

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
