// Reading discovery answers and merging them per server, without sockets.

#include "discoverymessages.h"
#include "frame.h"
#include "heardservers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

QByteArray answer(quint8 type, const QByteArray& body)
{
    return buildFrame(type, body);
}

QByteArray rawFrame(quint8 version, quint8 type, quint16 length, const QByteArray& body)
{
    QByteArray d("TAVR");
    d.append(char(version));
    d.append(char(type));
    d.append(char(length >> 8));
    d.append(char(length & 0xff));
    d.append(body);
    return d;
}

DiscoveredServer heard(const QString& id, const QString& address, const QString& name = QStringLiteral("n"))
{
    DiscoveredServer s;
    s.id = id;
    s.address = address;
    s.name = name;
    return s;
}

} // namespace

class TestDiscoveryMessages : public QObject {
    Q_OBJECT

private slots:
    void nonceIsLowerHexWithoutLeadingZeros();
    void queryBodyIsCompactInOrder();
    void queryEscapesItsNonce();

    void typeThreeNeedsTheRunsNonce();
    void typeTwoTakesAnyNonce();
    void fieldsAreRead();
    void defaultsForMissingOrMistypedKeys_data();
    void defaultsForMissingOrMistypedKeys();
    void emptyNameStaysEmpty();
    void idDefaultsToSenderAddress();
    void mappedSenderIsStripped();
    void integerConversion_data();
    void integerConversion();
    void malformedDatagramsAreDropped_data();
    void malformedDatagramsAreDropped();
    void largestBodyIsAccepted();

    void sameIdTwoAddressesMerges();
    void twoAnonymousSendersAreTwoRecords();
    void atMostSixtyFourIds();
    void atMostTwelveAddresses();
    void settlePrefersAnsweredThenNonLoopback();
    void settleFallsBackToFirstAddress();
    void sortIsCaseInsensitive();
};

void TestDiscoveryMessages::nonceIsLowerHexWithoutLeadingZeros()
{
    const QRegularExpression pattern(QStringLiteral("^(0|[1-9a-f][0-9a-f]{0,7})$"));
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString nonce = newDiscoveryNonce();
        QVERIFY2(pattern.match(nonce).hasMatch(), qPrintable(nonce));
        seen.insert(nonce);
    }
    QVERIFY(seen.size() > 190);
}

void TestDiscoveryMessages::queryBodyIsCompactInOrder()
{
    const QByteArray query = makeDiscoveryQuery(QStringLiteral("1a2b"));
    const auto frame = parseFrame(query, {DiscoveryQuery});
    QVERIFY(frame);
    QCOMPARE(frame->type, quint8(1));
    QCOMPARE(frame->body, QByteArray(R"({"nonce":"1a2b","client":"Tavrin Pellum"})"));
}

void TestDiscoveryMessages::queryEscapesItsNonce()
{
    const QByteArray query = makeDiscoveryQuery(QStringLiteral("a\"b"));
    const auto frame = parseFrame(query, {DiscoveryQuery});
    QVERIFY(frame);
    const QJsonObject object = QJsonDocument::fromJson(frame->body).object();
    QCOMPARE(object.value("nonce").toString(), QStringLiteral("a\"b"));
}

void TestDiscoveryMessages::typeThreeNeedsTheRunsNonce()
{
    const QByteArray body = R"({"nonce":"beef","id":"s1"})";
    QVERIFY(readDiscoveryAnswer(answer(3, body), "beef", "10.0.0.1"));
    QVERIFY(!readDiscoveryAnswer(answer(3, body), "beef0", "10.0.0.1"));
    QVERIFY(!readDiscoveryAnswer(answer(3, body), "BEEF", "10.0.0.1"));
    QVERIFY(!readDiscoveryAnswer(answer(3, R"({"id":"s1"})"), "beef", "10.0.0.1"));
    QVERIFY(!readDiscoveryAnswer(answer(3, R"({"nonce":48879})"), "beef", "10.0.0.1"));
}

void TestDiscoveryMessages::typeTwoTakesAnyNonce()
{
    QVERIFY(readDiscoveryAnswer(answer(2, R"({"nonce":"old"})"), "beef", "10.0.0.1"));
    QVERIFY(readDiscoveryAnswer(answer(2, R"({})"), "beef", "10.0.0.1"));
}

void TestDiscoveryMessages::fieldsAreRead()
{
    const QByteArray body = R"({"id":"srv-1","name":"Lab","source":"gps","ver":"2.1","stratum":1,)"
                            R"("clients":17,"synced":true,"accepting":true,"steady":true,"extra":[1]})";
    const auto s = readDiscoveryAnswer(answer(2, body), "x", "192.168.1.10");
    QVERIFY(s);
    QCOMPARE(s->id, QStringLiteral("srv-1"));
    QCOMPARE(s->name, QStringLiteral("Lab"));
    QCOMPARE(s->address, QStringLiteral("192.168.1.10"));
    QCOMPARE(s->source, QStringLiteral("gps"));
    QCOMPARE(s->ver, QStringLiteral("2.1"));
    QCOMPARE(s->stratum, 1);
    QCOMPARE(s->clients, 17);
    QVERIFY(s->synced);
    QVERIFY(s->accepting);
    QVERIFY(s->steady);
    QVERIFY(!s->answered);
    QVERIFY(!s->onThisComputer);
}

void TestDiscoveryMessages::defaultsForMissingOrMistypedKeys_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("missing") << QByteArray("{}");
    QTest::newRow("numbers") << QByteArray(R"({"name":5,"source":1,"ver":2.5,"synced":1,"accepting":0,"steady":"true"})");
    QTest::newRow("objects") << QByteArray(R"({"name":{},"source":[],"ver":null,"stratum":"3","clients":true,"synced":{}})");
    QTest::newRow("nulls") << QByteArray(R"({"name":null,"stratum":null,"clients":null,"steady":null})");
}

void TestDiscoveryMessages::defaultsForMissingOrMistypedKeys()
{
    QFETCH(QByteArray, body);
    const auto s = readDiscoveryAnswer(answer(2, body), "x", "10.1.2.3");
    QVERIFY(s);
    QCOMPARE(s->name, QStringLiteral("(unnamed)"));
    QCOMPARE(s->source, QString());
    QCOMPARE(s->ver, QString());
    QCOMPARE(s->stratum, 0);
    QCOMPARE(s->clients, 0);
    QVERIFY(!s->synced);
    QVERIFY(!s->accepting);
    QVERIFY(!s->steady);
}

void TestDiscoveryMessages::emptyNameStaysEmpty()
{
    const auto s = readDiscoveryAnswer(answer(2, R"({"name":""})"), "x", "10.1.2.3");
    QVERIFY(s);
    QVERIFY(s->name.isEmpty());
}

void TestDiscoveryMessages::idDefaultsToSenderAddress()
{
    const auto a = readDiscoveryAnswer(answer(2, R"({"id":7})"), "x", "10.1.2.3");
    QVERIFY(a);
    QCOMPARE(a->id, QStringLiteral("10.1.2.3"));
    const auto b = readDiscoveryAnswer(answer(2, R"({"id":""})"), "x", "10.1.2.3");
    QVERIFY(b);
    QCOMPARE(b->id, QString());
}

void TestDiscoveryMessages::mappedSenderIsStripped()
{
    const auto s = readDiscoveryAnswer(answer(2, "{}"), "x", "::ffff:10.0.0.5");
    QVERIFY(s);
    QCOMPARE(s->address, QStringLiteral("10.0.0.5"));
    QCOMPARE(s->id, QStringLiteral("10.0.0.5"));
    QCOMPARE(plainAddressText(QStringLiteral("::FFFF:10.0.0.5")), QStringLiteral("::FFFF:10.0.0.5"));
    QCOMPARE(plainAddressText(QHostAddress(QStringLiteral("::ffff:10.0.0.5"))), QStringLiteral("10.0.0.5"));
}

void TestDiscoveryMessages::integerConversion_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("whole") << QByteArray("42") << 42;
    QTest::newRow("negative") << QByteArray("-7") << -7;
    QTest::newRow("whole as float") << QByteArray("3.0") << 3;
    QTest::newRow("fraction") << QByteArray("2.5") << 0;
    QTest::newRow("max") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("min") << QByteArray("-2147483648") << int(-2147483648LL);
    QTest::newRow("above max") << QByteArray("2147483648") << 0;
    QTest::newRow("below min") << QByteArray("-2147483649") << 0;
    QTest::newRow("huge") << QByteArray("1e300") << 0;
    QTest::newRow("string") << QByteArray("\"5\"") << 0;
}

void TestDiscoveryMessages::integerConversion()
{
    QFETCH(QByteArray, value);
    QFETCH(int, expected);
    const auto s = readDiscoveryAnswer(answer(2, "{\"stratum\":" + value + ",\"clients\":" + value + "}"), "x", "10.0.0.1");
    QVERIFY(s);
    QCOMPARE(s->stratum, expected);
    QCOMPARE(s->clients, expected);
}

void TestDiscoveryMessages::malformedDatagramsAreDropped_data()
{
    QTest::addColumn<QByteArray>("datagram");
    const QByteArray body = R"({"id":"a"})";
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("seven bytes") << QByteArray("TAVR\x01\x02\x00", 7);
    QTest::newRow("magic case") << QByteArray("tavr") + answer(2, body).mid(4);
    QTest::newRow("foreign magic") << QByteArray("NTPX") + answer(2, body).mid(4);
    QTest::newRow("version 2") << rawFrame(2, 2, quint16(body.size()), body);
    QTest::newRow("query type") << rawFrame(1, 1, quint16(body.size()), body);
    QTest::newRow("report answer type") << rawFrame(1, 5, quint16(body.size()), body);
    QTest::newRow("length too small") << rawFrame(1, 2, quint16(body.size() - 1), body);
    QTest::newRow("length too large") << rawFrame(1, 2, quint16(body.size() + 1), body);
    QTest::newRow("length 1025") << rawFrame(1, 2, 1025, QByteArray(1025, ' '));
    QTest::newRow("empty body") << rawFrame(1, 2, 0, {});
    QTest::newRow("not json") << answer(2, "{id:");
    QTest::newRow("array") << answer(2, "[1,2]");
    QTest::newRow("string") << answer(2, "\"s\"");
    QTest::newRow("trailing garbage") << answer(2, body + "x");
    QTest::newRow("sntp reply") << QByteArray(48, '\x24');
}

void TestDiscoveryMessages::malformedDatagramsAreDropped()
{
    QFETCH(QByteArray, datagram);
    QVERIFY(!readDiscoveryAnswer(datagram, "x", "10.0.0.1"));
}

void TestDiscoveryMessages::largestBodyIsAccepted()
{
    QByteArray body = R"({"id":"big","pad":")";
    body += QByteArray(kFrameMaxBody - body.size() - 2, 'p');
    body += "\"}";
    QCOMPARE(body.size(), 1024);
    const QByteArray datagram = answer(2, body);
    QCOMPARE(datagram.size(), 1032);
    const auto s = readDiscoveryAnswer(datagram, "x", "10.0.0.1");
    QVERIFY(s);
    QCOMPARE(s->id, QStringLiteral("big"));
}

void TestDiscoveryMessages::sameIdTwoAddressesMerges()
{
    HeardServerMap map;
    DiscoveredServer first = heard("s", "10.0.0.1", "Old");
    first.stratum = 3;
    DiscoveredServer second = heard("s", "10.0.1.1", "New");
    second.synced = true;
    QVERIFY(recordAnswer(map, first));
    QVERIFY(recordAnswer(map, second));
    QVERIFY(recordAnswer(map, second));   // repeat: no new address
    QCOMPARE(map.size(), 1);
    QCOMPARE(map["s"].addresses, (QStringList{"10.0.0.1", "10.0.1.1"}));
    QCOMPARE(map["s"].latest.name, QStringLiteral("New"));
    QCOMPARE(map["s"].latest.stratum, 0);   // wholesale replacement
    QVERIFY(map["s"].latest.synced);
}

void TestDiscoveryMessages::twoAnonymousSendersAreTwoRecords()
{
    HeardServerMap map;
    for (const char* address : {"10.0.0.9", "10.0.0.8"}) {
        const auto s = readDiscoveryAnswer(answer(2, "{}"), "x", address);
        QVERIFY(s);
        QVERIFY(recordAnswer(map, *s));
    }
    QCOMPARE(map.keys(), (QStringList{"10.0.0.8", "10.0.0.9"}));
}

void TestDiscoveryMessages::atMostSixtyFourIds()
{
    HeardServerMap map;
    for (int i = 0; i < 64; ++i)
        QVERIFY(recordAnswer(map, heard(QString::number(i), "10.0.0.1")));
    QVERIFY(!recordAnswer(map, heard("new", "10.0.0.2")));
    QCOMPARE(map.size(), 64);
    QVERIFY(!map.contains("new"));
    DiscoveredServer update = heard("5", "10.0.0.3", "Updated");
    QVERIFY(recordAnswer(map, update));
    QCOMPARE(map["5"].latest.name, QStringLiteral("Updated"));
    QCOMPARE(map["5"].addresses.size(), 2);
}

void TestDiscoveryMessages::atMostTwelveAddresses()
{
    HeardServerMap map;
    for (int i = 1; i <= 13; ++i)
        QVERIFY(recordAnswer(map, heard("s", QStringLiteral("10.0.0.%1").arg(i))));
    QCOMPARE(map["s"].addresses.size(), 12);
    QVERIFY(!map["s"].addresses.contains("10.0.0.13"));
    QCOMPARE(map["s"].latest.address, QStringLiteral("10.0.0.13"));
}

void TestDiscoveryMessages::settlePrefersAnsweredThenNonLoopback()
{
    HeardServerMap map;
    map["a"].latest = heard("a", "x", "A");
    map["a"].addresses = {"127.0.0.1", "10.0.0.1", "10.0.0.2"};
    map["b"].latest = heard("b", "x", "B");
    map["b"].addresses = {"127.0.0.1", "10.0.0.3"};
    map["c"].latest = heard("c", "x", "C");
    map["c"].addresses = {"127.0.0.1", "10.0.0.4"};
    const QList<DiscoveredServer> list = settleHeardServers(map, {"10.0.0.2", "127.0.0.1", "10.0.0.9"});
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[0].address, QStringLiteral("127.0.0.1"));
    QVERIFY(list[0].answered);
    QCOMPARE(list[1].address, QStringLiteral("127.0.0.1"));
    QVERIFY(list[1].answered);

    const QList<DiscoveredServer> none = settleHeardServers(map, {"10.0.0.2"});
    QCOMPARE(none[0].address, QStringLiteral("10.0.0.2"));
    QVERIFY(none[0].answered);
    QCOMPARE(none[1].address, QStringLiteral("10.0.0.3"));
    QVERIFY(!none[1].answered);
    QCOMPARE(none[2].address, QStringLiteral("10.0.0.4"));
}

void TestDiscoveryMessages::settleFallsBackToFirstAddress()
{
    HeardServerMap map;
    map["a"].latest = heard("a", "x");
    map["a"].addresses = {"127.0.0.1", "127.0.0.2"};
    const QList<DiscoveredServer> list = settleHeardServers(map, {});
    QCOMPARE(list[0].address, QStringLiteral("127.0.0.1"));
    QVERIFY(!list[0].answered);
    QVERIFY(settleHeardServers({}, {"10.0.0.1"}).isEmpty());
}

void TestDiscoveryMessages::sortIsCaseInsensitive()
{
    HeardServerMap map;
    recordAnswer(map, heard("1", "10.0.0.1", "beta"));
    recordAnswer(map, heard("2", "10.0.0.2", "alpha2"));
    recordAnswer(map, heard("3", "10.0.0.3", "Alpha"));
    QStringList names;
    for (const DiscoveredServer& s : settleHeardServers(map, {}))
        names << s.name;
    QCOMPARE(names, (QStringList{"Alpha", "alpha2", "beta"}));
}

QTEST_APPLESS_MAIN(TestDiscoveryMessages)
#include "tst_discoverymessages.moc"
