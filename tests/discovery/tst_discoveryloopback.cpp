// The discovery client and the blocking server check against test servers on
// loopback addresses: queries go by unicast on ports chosen per run, so this
// needs no privileges and no test LAN.

#include "discoveryclient.h"
#include "sntp.h"
#include "testserverprocess.h"
#include "timeserverprobe.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <list>

class TestDiscoveryLoopback : public QObject {
    Q_OBJECT
    quint16 tavrPort = 0, ntpPort = 0;
    std::list<TestServerProcess> servers;
    QList<QHostAddress> addresses;   // of the servers, 127.0.0.2 on

    bool serve(const QStringList& extra = {})
    {
        addresses << QHostAddress(QStringLiteral("127.0.0.%1").arg(addresses.size() + 2));
        return servers.emplace_back().start(QStringList{"--listen", addresses.last().toString(), "--ntp-port",
                                                        QString::number(ntpPort), "--tavr-port", QString::number(tavrPort)} + extra);
    }
    // One run per window, each with a 1500 ms probe phase so a loaded machine cannot make a reply late.
    QList<QList<DiscoveredServer>> discover(QList<int> windows = {1500})
    {
        DiscoveryClient client;
        client.setTargetsForTesting({tavrPort, ntpPort, addresses, 1500});
        QSignalSpy spy(&client, &DiscoveryClient::finished);
        for (int i = 0; i < windows.size(); ++i) {
            client.start(windows[i]);
            client.start(50);   // ignored during a run
            if (!QTest::qWaitFor([&] { return spy.size() > i; }, 10000))
                break;
        }
        QTest::qWait(300);
        QList<QList<DiscoveredServer>> runs;
        for (const auto& args : spy)
            runs << args.at(0).value<QList<DiscoveredServer>>();
        return runs;
    }

private slots:
    void init() { tavrPort = freeUdpPort(), ntpPort = freeUdpPort(), servers.clear(), addresses.clear(); }

    void runsFinishOnceEach()
    {
        // Fault: a negative window or a second start() left a run without its one finished().
        QVERIFY(serve());
        const auto runs = discover({-5, 1500, 20, 400});
        QCOMPARE(runs.size(), 4);
        QVERIFY(runs[1].size() == 1 && runs[1][0].answered);
    }

    void answersMergedAndProbed()
    {
        // Fault: a bad answer or SNTP reply counted, the latest answer not winning, one address probed twice.
        for (const QStringList& args : QList<QStringList>{
                 {"--id", "s1", "--name", "beta"}, {"--id", "s1", "--name", "Later", "--discovery-delay-ms", "250", "--sntp", "silent"},
                 {"--id", "Alpha", "--name", "Alpha", "--answer-type", "2", "--delay-ms", "3000"},
                 {"--id", "stale", "--discovery", "stale-nonce"}, {"--id", "broken", "--discovery", "malformed"},
                 {"--id", "big", "--discovery", "oversized"}, {"--id", "leap", "--leap", "3"}, {"--id", "origin", "--sntp", "wrong-origin"}})
            QVERIFY(serve(args));
        const auto runs = discover();
        QStringList got;
        for (const DiscoveredServer& s : runs.value(0))
            got << QStringLiteral("%1@%2:%3%4").arg(s.id, s.address, s.name, s.answered ? "+" : "");
        got.sort();
        QCOMPARE(got, (QStringList{"Alpha@127.0.0.4:Alpha", "leap@127.0.0.8:Test Server",
                                   "origin@127.0.0.9:Test Server", "s1@127.0.0.2:Later+"}));
        QCOMPARE(servers.front().sntpRequests(), 1);
    }

    void blockingCheck()
    {
        // Fault: the check before a set-up passes a late, bad or absent server, or blocks past its limit.
        QVERIFY(serve() && serve({"--delay-ms", "600"}) && serve({"--stratum", "0"}));
        QVERIFY(probeTimeServerOnPort("::ffff:127.0.0.2", ntpPort, 2000));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!probeTimeServerOnPort("127.0.0.3", ntpPort, 500));   // it replies at 600 ms
        QVERIFY2(timer.elapsed() >= 450 && timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!probeTimeServerOnPort("127.0.0.4", ntpPort, 300));
        QVERIFY(!probeTimeServer("not-an-ip", 500) && !probeTimeServer("999.1.1.1", 500));
    }
};

QTEST_GUILESS_MAIN(TestDiscoveryLoopback)
#include "tst_discoveryloopback.moc"
