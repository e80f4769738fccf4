// Discovery's answer rules and the merge per server, without sockets.

#include "discoverymessages.h"
#include "frame.h"
#include "heardservers.h"

#include <QTest>

#include <climits>

namespace {
std::optional<DiscoveredServer> read(quint8 type, const QByteArray& body, const QString& from = "10.0.0.1")
{
    return readDiscoveryAnswer(buildFrame(type, body), "beef", from);
}

DiscoveredServer heard(const QString& id, const QString& address, const QString& name = "n")
{
    DiscoveredServer s;
    s.id = id, s.address = address, s.name = name;
    return s;
}
} // namespace

class TestDiscoveryWire : public QObject {
    Q_OBJECT
private slots:
    void answerAcceptance()
    {
        // Fault: a stale, foreign or malformed answer listed, or a valid one dropped.
        struct Row { quint8 type; QByteArray body; bool accepted; };
        for (const Row& r : {Row{3, R"({"nonce":"beef"})", true}, Row{3, R"({"nonce":"BEEF"})", false}, Row{3, "{}", false},
                             Row{3, R"({"nonce":48879})", false}, Row{2, R"({"nonce":"old"})", true}, Row{5, "{}", false},
                             Row{2, "", false}, Row{2, "{id:", false}, Row{2, "[1]", false}, Row{2, "{}x", false},
                             Row{2, R"({"p":")" + QByteArray(1016, 'p') + R"("})", true}})   // a 1024-byte body
            QVERIFY2(read(r.type, r.body).has_value() == r.accepted, r.body.left(40));
    }

    void fieldsAndDefaults()
    {
        // Fault: a missing or mistyped key taken as a value; the mapped sender kept as is.
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

    void mergeLimits()
    {
        // Fault: the heard list grows without bound, or a merge loses or mixes up records.
        HeardServerMap map;
        for (int i = 0; i < 64; ++i)
            QVERIFY(recordAnswer(map, heard(QString::number(i), "10.0.0.1")));
        QVERIFY(!recordAnswer(map, heard("new", "10.0.0.2")));
        for (int i = 2; i <= 14; ++i)
            QVERIFY(recordAnswer(map, heard("5", QStringLiteral("10.0.0.%1").arg(i), "Latest")));
        QCOMPARE(map.size(), 64);
        QCOMPARE(map["5"].addresses.size(), 12);
        QCOMPARE(map["5"].addresses.first(), QStringLiteral("10.0.0.1"));
        QCOMPARE(map["5"].latest.address, QStringLiteral("10.0.0.14"));
        QCOMPARE(map["5"].latest.name, QStringLiteral("Latest"));
    }

    void settledAddressAndOrder()
    {
        // Fault: a server reported at an address that did not answer, or listed out of order.
        HeardServerMap map;
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

QTEST_APPLESS_MAIN(TestDiscoveryWire)
#include "tst_discoverywire.moc"
