// The discovery client with its real ports and broadcasts, on a test LAN of
// network namespaces: this process sits in the client namespace, the test
// servers in server namespaces (or beside it). Needs root; skips otherwise.

#include "discoveryclient.h"
#include "netlan/netlan.h"
#include "testserverprocess.h"
#include "timeserverprobe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <list>

namespace {
constexpr int kServers = 3;
NetLan::Lan lan;
}

class TestDiscoveryLan : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void severalServersSorted();
    void queriesGoToBothBroadcasts();
    void serverOnThisComputerIsReportedAtLoopback();
    void serverOnThisComputerBoundToItsLanAddress();
    void quietLanFinishesEmpty();
    void probeTimeServerOnLan();

private:
    bool startServer(const QString& ns, const QStringList& args);
    QList<DiscoveredServer> runDiscovery(int listenMs = 1500);

    std::list<TestServerProcess> servers;
};

bool TestDiscoveryLan::startServer(const QString& ns, const QStringList& args)
{
    servers.emplace_back();
    if (servers.back().start(args, ns))
        return true;
    qWarning() << "test server did not start in" << ns << servers.back().errors();
    return false;
}

QList<DiscoveredServer> TestDiscoveryLan::runDiscovery(int listenMs)
{
    DiscoveryClient client;
    // Real ports and broadcasts; only the probe phase is longer, so that a
    // loaded machine cannot make a valid reply late.
    DiscoveryClient::Targets targets;
    targets.probePhaseMs = 1500;
    client.setTargetsForTesting(targets);
    QSignalSpy spy(&client, &DiscoveryClient::finished);
    client.start(listenMs);
    if (!spy.wait(listenMs + 10000))
        return {{}};
    QTest::qWait(200);
    if (spy.size() != 1)
        return {{}, {}};
    return spy.at(0).at(0).value<QList<DiscoveredServer>>();
}

void TestDiscoveryLan::cleanup()
{
    servers.clear();
}

void TestDiscoveryLan::severalServersSorted()
{
    const QStringList names{"beta", "Alpha", "alpha2"};
    for (int i = 0; i < kServers; ++i)
        QVERIFY(startServer(lan.serverNs[i], {"--listen", lan.serverAddr[i], "--id", QString("id%1").arg(i),
                                              "--name", names[i]}));
    const auto list = runDiscovery();
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[0].name, QStringLiteral("Alpha"));
    QCOMPARE(list[0].address, lan.serverAddr[1]);
    QCOMPARE(list[1].name, QStringLiteral("alpha2"));
    QCOMPARE(list[1].address, lan.serverAddr[2]);
    QCOMPARE(list[2].name, QStringLiteral("beta"));
    QCOMPARE(list[2].address, lan.serverAddr[0]);
    for (const auto& s : list) {
        QVERIFY(s.answered);
        QVERIFY(!s.onThisComputer);
        QVERIFY(s.synced && s.accepting);
    }
}

void TestDiscoveryLan::queriesGoToBothBroadcasts()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString log = dir.filePath("queries.jsonl");
    QVERIFY(startServer(lan.serverNs[0], {"--listen", lan.serverAddr[0], "--query-log", log}));
    const auto list = runDiscovery();
    QCOMPARE(list.size(), 1);

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    int limited = 0;
    int subnet = 0;
    QSet<QString> nonces;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        const QString to = entry.value("to").toString();
        limited += to == "255.255.255.255";
        subnet += to == lan.broadcast;
        QCOMPARE(entry.value("from").toString(), lan.clientAddr);
        const QJsonObject query = entry.value("query").toObject();
        QCOMPARE(query.value("client").toString(), QStringLiteral("Tavrin Pellum"));
        nonces.insert(query.value("nonce").toString());
    }
    QCOMPARE(limited, 3);
    QCOMPARE(subnet, 3);
    QCOMPARE(nonces.size(), 1);
}

void TestDiscoveryLan::serverOnThisComputerIsReportedAtLoopback()
{
    QVERIFY(startServer({}, {"--listen", "0.0.0.0", "--id", "local", "--name", "Zulu"}));
    QVERIFY(startServer(lan.serverNs[0], {"--listen", lan.serverAddr[0], "--id", "far", "--name", "Far"}));
    const auto list = runDiscovery();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0].id, QStringLiteral("far"));
    QVERIFY(!list[0].onThisComputer);
    QCOMPARE(list[1].id, QStringLiteral("local"));
    QVERIFY(list[1].onThisComputer);
    QVERIFY(list[1].answered);
    QCOMPARE(list[1].address, QStringLiteral("127.0.0.1"));
}

void TestDiscoveryLan::serverOnThisComputerBoundToItsLanAddress()
{
    // Loopback is probed too but cannot answer; the LAN address did.
    QVERIFY(startServer({}, {"--listen", lan.clientAddr, "--id", "local"}));
    const auto list = runDiscovery();
    QCOMPARE(list.size(), 1);
    QVERIFY(list[0].onThisComputer);
    QVERIFY(list[0].answered);
    QCOMPARE(list[0].address, lan.clientAddr);
}

void TestDiscoveryLan::quietLanFinishesEmpty()
{
    QVERIFY(startServer(lan.serverNs[0], {"--listen", lan.serverAddr[0], "--discovery", "silent"}));
    QVERIFY(startServer(lan.serverNs[1], {"--listen", lan.serverAddr[1], "--discovery", "stale-nonce"}));
    QVERIFY(startServer(lan.serverNs[2], {"--listen", lan.serverAddr[2], "--sntp", "silent", "--id", "mute"}));
    const auto list = runDiscovery();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].id, QStringLiteral("mute"));
    QVERIFY(!list[0].answered);
    QCOMPARE(list[0].address, lan.serverAddr[2]);
}

void TestDiscoveryLan::probeTimeServerOnLan()
{
    QVERIFY(startServer(lan.serverNs[0], {"--listen", lan.serverAddr[0]}));
    QVERIFY(startServer(lan.serverNs[1], {"--listen", lan.serverAddr[1], "--delay-ms", "600"}));
    QVERIFY(startServer(lan.serverNs[2], {"--listen", lan.serverAddr[2], "--sntp", "silent"}));
    QVERIFY(probeTimeServer(lan.serverAddr[0], 500));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!probeTimeServer(lan.serverAddr[1], 500));
    QVERIFY(timer.elapsed() >= 450);
    QVERIFY(!probeTimeServer(lan.serverAddr[2], 500));
    QVERIFY(!probeTimeServer("198.18.0.99", 500));   // nobody there
}

int main(int argc, char** argv)
{
    const int rc = NetLan::reexecInside(argc, argv, kServers);
    if (rc >= 0)
        return rc;
    lan = NetLan::fromEnvironment();
    if (lan.serverNs.size() != kServers || !NetLan::enter(lan.clientNs)) {
        std::fprintf(stderr, "could not enter the test LAN\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    TestDiscoveryLan test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_discoverylan.moc"
