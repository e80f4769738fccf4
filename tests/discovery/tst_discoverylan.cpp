// Discovery with its real ports and broadcasts on a test LAN of network
// namespaces: this process sits in the client namespace, test servers in
// server namespaces or beside it. Needs root.

#include "clockwatcher.h"
#include "discoveryclient.h"
#include "frame.h"
#include "netlan.h"
#include "testserverprocess.h"

#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <list>
#include <random>
#include <thread>

namespace {
NetLan::Lan lan;

QStringList found(DiscoveryClient& client, int listenMs = 1500)
{
    QSignalSpy spy(&client, &DiscoveryClient::finished);
    client.setTargetsForTesting({12300, 123, {}, 1500});   // a longer probe phase only
    client.start(listenMs);
    QStringList out;
    if (spy.wait(listenMs + 10000))
        for (const DiscoveredServer& s : spy.at(0).at(0).value<QList<DiscoveredServer>>())
            out << QStringLiteral("%1@%2%3%4").arg(s.name, s.address, s.answered ? "+" : "", s.onThisComputer ? " here" : "");
    return out;
}

// Junk and near-frames from namespace `ns` to two ports of `target`, on a
// thread of its own (the namespace is per thread); bounded in count and time.
void flood(const QString& ns, const QString& target, quint16 portA, quint16 portB, const QString& clientId)
{
    const int fd = NetLan::enter(ns) ? ::socket(AF_INET, SOCK_DGRAM, 0) : -1;
    sockaddr_in to{AF_INET, 0, {}, {}};
    ::inet_pton(AF_INET, qPrintable(target), &to.sin_addr);
    std::mt19937 random(20261208u);
    const QByteArray answer = "{\"id\":\"" + clientId.toUtf8() + "\",\"name\":\"Evil\"}";
    for (int i = 0; fd >= 0 && i < 5000; ++i) {
        const quint8 type = quint8(random() % 7);   // never 2: that answer needs no nonce and is valid
        QByteArray d = buildFrame(type == 2 ? 3 : type, random() % 2 ? answer : QByteArray("[\"id\"]"));
        if (i % 3 == 0)
            d[6 + random() % 2] = char(random());   // length field off
        else if (i % 3 == 1)
            d = QByteArray(int(random() % 1500), char(random()));
        to.sin_port = htons(i % 2 ? portA : portB);
        ::sendto(fd, d.constData(), size_t(d.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (i % 100 == 99)
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    if (fd >= 0)
        ::close(fd);
}
} // namespace

class TestDiscoveryLan : public QObject {
    Q_OBJECT
    std::list<TestServerProcess> servers;
    bool serve(const QString& ns, const QStringList& args) { return servers.emplace_back().start(args, ns); }

private slots:
    void cleanup() { servers.clear(); }

    void serversFoundByBroadcast()
    {
        // Fault: a query not broadcast three times on both broadcasts, or servers not all found.
        const QStringList names{"beta", "Alpha", "alpha2"};
        for (int i = 0; i < 3; ++i)
            QVERIFY(serve(lan.serverNs[i], {"--listen", lan.serverAddr[i], "--id", names[i], "--name", names[i]}));
        DiscoveryClient client;
        QCOMPARE(found(client), (QStringList{"Alpha@" + lan.serverAddr[1] + "+", "alpha2@" + lan.serverAddr[2] + "+",
                                             "beta@" + lan.serverAddr[0] + "+"}));
        QStringList to;
        for (const QJsonObject& line : servers.front().log("queries"))
            to << line.value("to").toString();
        to.sort();
        QCOMPARE(to, (QStringList{lan.broadcast, lan.broadcast, lan.broadcast, "255.255.255.255", "255.255.255.255",
                                  "255.255.255.255"}));
    }

    void serverOnThisComputer_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<QString>("reported");
        QTest::newRow("any address") << "0.0.0.0" << "Test Server@127.0.0.1+ here";
        QTest::newRow("LAN address only") << lan.clientAddr << "Test Server@" + lan.clientAddr + "+ here";
    }
    void serverOnThisComputer()
    {
        // Fault: a server on this computer not recognised, or reported at an address it does not answer on.
        QFETCH(QString, listen);
        QFETCH(QString, reported);
        QVERIFY(serve({}, {"--listen", listen}));
        QVERIFY(serve(lan.serverNs[0], {"--listen", lan.serverAddr[0], "--id", "far", "--name", "Far"}));
        DiscoveryClient client;
        QCOMPARE(found(client), (QStringList{"Far@" + lan.serverAddr[0] + "+", reported}));
    }

    void floodChangesNothing()
    {
        // Fault: junk from the LAN listed as a server or taken as a report answer.
        QVERIFY(serve(lan.serverNs[0], {"--listen", lan.serverAddr[0], "--id", "a", "--name", "Alpha"}));
        QVERIFY(servers.front().control("--report-answer silent"));
        QVERIFY(serve(lan.serverNs[1], {"--listen", lan.serverAddr[1], "--id", "b", "--name", "Beta"}));
        ClockWatcher watcher;
        watcher.setServer(lan.serverAddr[0], "Alpha");
        watcher.setReporting(true);
        QTRY_VERIFY_WITH_TIMEOUT(servers.front().reports().size() >= 3, 20000);
        DiscoveryClient client;
        QSignalSpy spy(&client, &DiscoveryClient::finished);
        client.start(6000);
        const quint16 reportPort = quint16(servers.front().reports().first().value("port").toInt());
        const quint16 queryPort = client.findChild<QUdpSocket*>()->localPort();
        std::thread flooder(flood, lan.serverNs[2], lan.clientAddr, queryPort, reportPort, watcher.clientId());
        QVERIFY(QTest::qWaitFor([&] { return spy.size() == 1; }, 30000));
        flooder.join();
        QStringList heard;
        for (const DiscoveredServer& s : spy.at(0).at(0).value<QList<DiscoveredServer>>())
            heard << s.name;
        QCOMPARE(heard, (QStringList{"Alpha", "Beta"}));
        QVERIFY(!watcher.isReported());
        QCOMPARE(watcher.state(), ClockState::Sync);
        QCOMPARE(found(client), (QStringList{"Alpha@" + lan.serverAddr[0] + "+", "Beta@" + lan.serverAddr[1] + "+"}));
        QVERIFY(servers.front().control(""));
        watcher.sendBeacon();
        QTRY_VERIFY_WITH_TIMEOUT(watcher.isReported(), 20000);
        watcher.setReporting(false);
    }
};

int main(int argc, char** argv)
{
    const int rc = NetLan::reexecInside(argc, argv, 3);
    if (rc >= 0)
        return rc;
    lan = NetLan::fromEnvironment();
    if (!NetLan::enter(lan.clientNs)) {
        std::fprintf(stderr, "could not enter the test LAN\n");
        return 1;
    }
    QTemporaryDir config;   // the watcher's identity stays private
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestDiscoveryLan test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_discoverylan.moc"
