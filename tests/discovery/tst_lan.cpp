// Status reports and discovery with their real ports and broadcasts, on a
// private test LAN: the test re-runs itself under netlan.sh and sits in the
// client namespace, with private /etc/hosts and resolver files; test servers
// run in the server namespaces or beside it. Needs root.

#include "clockwatcher.h"
#include "discoveryclient.h"
#include "frame.h"
#include "netlan.h"
#include "testserverprocess.h"

#include <QSignalSpy>
#include <QTest>

#include <sys/mount.h>

#include <chrono>
#include <list>
#include <random>
#include <thread>

namespace {
constexpr int kWaitMs = 15000;
NetLan::Lan lan;
QTemporaryDir etc;

QStringList found(DiscoveryClient& client)
{
    QSignalSpy spy(&client, &DiscoveryClient::finished);
    client.setTargetsForTesting({12300, 123, {}, 1500});   // a longer probe phase only
    client.start(1500);
    QStringList out;
    if (spy.wait(12000))
        for (const DiscoveredServer& s : spy.at(0).at(0).value<QList<DiscoveredServer>>())
            out << QStringLiteral("%1@%2%3%4").arg(s.name, s.address, s.answered ? "+" : "", s.onThisComputer ? " here" : "");
    return out;
}

// Junk and near-frames (report answers with the right id among them) from
// the third server namespace to two ports of the client, on a thread of its own.
void flood(quint16 portA, quint16 portB, const QString& clientId)
{
    if (!NetLan::enter(lan.serverNs[2]))   // per thread
        return;
    QUdpSocket socket;
    std::mt19937 random(20261208u);
    const QByteArray answer = "{\"id\":\"" + clientId.toUtf8() + "\",\"name\":\"Evil\"}";
    for (int i = 0; i < 5000; ++i) {
        const quint8 type = quint8(random() % 7);   // never 2: that answer needs no nonce
        QByteArray d = buildFrame(type == 2 ? 3 : type, random() % 2 ? answer : QByteArray("[\"id\"]"));
        if (i % 3 == 0)
            d[6 + random() % 2] = char(random());
        else if (i % 3 == 1)
            d = QByteArray(int(random() % 1500), char(random()));
        socket.writeDatagram(d, QHostAddress(lan.clientAddr), i % 2 ? portA : portB);
        if (i % 100 == 99)
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}
} // namespace

class TestLan : public QObject {
    Q_OBJECT
    std::list<TestServerProcess> servers;
    bool serve(int i, const QStringList& args = {})
    {
        return servers.emplace_back().start(QStringList{"--listen", lan.serverAddr[i]} + args, lan.serverNs[i]);
    }

private slots:
    void cleanup() { servers.clear(); }

    void reportsReachServerAndBroadcasts()
    {
        // Fault: a report missing a destination, a state change or its goodbye.
        QVERIFY(serve(0));
        auto w = std::make_unique<ClockWatcher>();
        w->setReporting(true);
        QTRY_COMPARE_WITH_TIMEOUT(servers.front().reportLines().size(), 2, kWaitMs);
        w->setServer(lan.serverAddr[0], "Lab");   // Sync: one more report, now also to the server
        QTRY_COMPARE_WITH_TIMEOUT(servers.front().reportLines().size(), 5, kWaitMs);
        w->setReporting(false);
        w.reset();   // reporting off: no second goodbye
        QTest::qWait(500);
        QStringList seen;
        for (const QJsonObject& line : servers.front().reportLines())
            seen << line.value("to").toString() + ' ' + line.value("report")["state"].toString()
                    + (line.value("report")["bye"].toBool() ? " bye" : "");
        seen.sort();
        const QString s = lan.serverAddr[0], b = lan.broadcast, all = "255.255.255.255";
        QCOMPARE(seen, (QStringList{s + " sync", s + " sync bye", b + " none", b + " sync", b + " sync bye",
                                    all + " none", all + " sync", all + " sync bye"}));
    }

    void onlyOwnServersAnswerCounts()
    {
        // Fault: "reported" shown for an answer naming another id or none, or for an oversized frame.
        // Answers from another host, of another type or malformed are the flood's.
        for (const QString row : {"normal", "wrong-id", "no-id", "oversized"}) {
            QVERIFY(serve(0, {"--report-answer", row}));
            ClockWatcher w;
            w.setServer(lan.serverAddr[0], "Lab");
            w.setReporting(true);
            QTRY_VERIFY_WITH_TIMEOUT(servers.front().reportLines().size() >= 2, kWaitMs);
            QTest::qWait(300);
            QVERIFY2(w.isReported() == (row == "normal"), qPrintable(row));
            servers.clear();
        }
    }

    void hostNameLookedUpAgain()
    {
        // Fault: a host name that failed to resolve once was never looked up again.
        QVERIFY(serve(0));
        ClockWatcher w;
        w.setServer("pellum-late-server", "Lab");
        QTest::qWait(1500);
        QVERIFY(w.serverAddress().isNull());
        QFile hosts(etc.filePath("hosts"));
        QVERIFY(hosts.open(QIODevice::Append) && hosts.write(lan.serverAddr[0].toLatin1() + " pellum-late-server\n"));
        hosts.close();
        w.onProbe();   // what the probe timer does every 10 s
        QTRY_COMPARE_WITH_TIMEOUT(w.state(), ClockState::Sync, kWaitMs);
    }

    void serversFoundByBroadcast()
    {
        // Fault: a query not broadcast three times on both broadcasts, a server missed, or one on this computer not recognised or reported at an address it does not answer on.
        const QStringList names{"beta", "Alpha", "alpha2"};
        for (const QString& listen : {QStringLiteral("0.0.0.0"), lan.clientAddr}) {
            for (int i = 0; i < 3; ++i)
                QVERIFY(serve(i, {"--id", names[i], "--name", names[i]}));
            QVERIFY(servers.emplace_back().start({"--listen", listen, "--id", "h", "--name", "Here"}));
            DiscoveryClient client;
            QCOMPARE(found(client), (QStringList{"Alpha@" + lan.serverAddr[1] + "+", "alpha2@" + lan.serverAddr[2] + "+", "beta@" + lan.serverAddr[0] + "+",
                                                 "Here@" + (listen == lan.clientAddr ? listen : "127.0.0.1") + "+ here"}));
            QCOMPARE(servers.front().log("queries").size(), 6);   // three times to each broadcast
            servers.clear();
        }
    }

    void floodChangesNothing()
    {
        // Fault: junk from the LAN listed as a server or taken as a report answer.
        QVERIFY(serve(0, {"--id", "a", "--name", "Alpha"}) && serve(1, {"--id", "b", "--name", "Beta"}));
        QVERIFY(servers.front().control("--report-answer silent"));
        ClockWatcher watcher;
        watcher.setServer(lan.serverAddr[0], "Alpha");
        watcher.setReporting(true);
        QTRY_VERIFY_WITH_TIMEOUT(servers.front().reportLines().size() >= 3, kWaitMs);
        DiscoveryClient client;
        QSignalSpy spy(&client, &DiscoveryClient::finished);
        client.start(6000);
        std::thread flooder(flood, client.findChild<QUdpSocket*>()->localPort(),
                            quint16(servers.front().reportLines().first().value("port").toInt()), watcher.clientId());
        QVERIFY(QTest::qWaitFor([&] { return spy.size() == 1; }, 30000));
        flooder.join();
        QCOMPARE(spy.at(0).at(0).value<QList<DiscoveredServer>>().size(), 2);
        QVERIFY(!watcher.isReported() && watcher.state() == ClockState::Sync);
        QVERIFY(servers.front().control(""));
        watcher.sendBeacon();
        QTRY_VERIFY_WITH_TIMEOUT(watcher.isReported(), kWaitMs);
    }
};

int main(int argc, char** argv)
{
    const int outside = NetLan::reexecInside(argc, argv, 3);
    if (outside >= 0)
        return outside;
    lan = NetLan::fromEnvironment();
    for (const char* name : {"hosts", "resolv.conf"}) {   // lookups go to these files only
        QFile file(etc.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || !file.write(name[0] == 'h' ? "127.0.0.1 localhost\n" : "nameserver 127.0.0.1\n"))
            return 1;
    }
    if (!NetLan::enter(lan.clientNs) || unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount(qPrintable(etc.filePath("hosts")), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0
        || mount(qPrintable(etc.filePath("resolv.conf")), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
        std::perror("cannot set up the client namespace");
        return 1;
    }
    QTemporaryDir config;   // the watcher's identity, last sync and record stay private
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", config.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestLan test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_lan.moc"
