// The discovery client and the SNTP probe against test servers on loopback
// addresses. Queries go by unicast to those addresses (no broadcast), on
// ports chosen per run, so this needs no privileges and no test LAN.

#include "discoveryclient.h"
#include "testserverprocess.h"
#include "timeserverprobe.h"

#include "frame.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

#include <list>

// Longer than the product's windows so a loaded machine cannot turn a late
// but valid answer into a failure; the rules under test do not change.
constexpr int kListenMs = 1500;
constexpr int kProbeMs = 1500;

class TestDiscoveryLoopback : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void nothingHeardFinishesEmpty();
    void negativeWindowStillFinishes();
    void startDuringRunIsIgnored();
    void consecutiveRunsFinishOnceEach();
    void severalServersSortedAndAnswered();
    void answerRules();
    void sameIdFromTwoAddresses();
    void badSntpRepliesDoNotCount();
    void twoServersOneAddressOneProbe();

    void probeReady();
    void probeNotAnswering();
    void probeBadReplies_data();
    void probeBadReplies();
    void probeTooLate();
    void probeBadAddress();

private:
    bool startServer(const QString& address, const QStringList& extra);
    QList<DiscoveredServer> runDiscovery(const QStringList& addresses, int listenMs = kListenMs);
    DiscoveryClient::Targets targetsFor(const QStringList& addresses) const;

    quint16 tavrPort = 0;
    quint16 ntpPort = 0;
    std::list<TestServerProcess> servers;
};

void TestDiscoveryLoopback::init()
{
    // Ports free on the whole of 127/8 are what matters; 127.0.0.1 is a good proxy.
    tavrPort = freeUdpPort();
    ntpPort = freeUdpPort();
    QVERIFY(tavrPort && ntpPort && tavrPort != ntpPort);
}

void TestDiscoveryLoopback::cleanup()
{
    servers.clear();
}

bool TestDiscoveryLoopback::startServer(const QString& address, const QStringList& extra)
{
    servers.emplace_back();
    const QStringList args = QStringList{"--listen", address, "--ntp-port", QString::number(ntpPort),
                                         "--tavr-port", QString::number(tavrPort)} + extra;
    if (servers.back().start(args))
        return true;
    qWarning() << "test server did not start:" << servers.back().errors();
    return false;
}

DiscoveryClient::Targets TestDiscoveryLoopback::targetsFor(const QStringList& addresses) const
{
    DiscoveryClient::Targets targets;
    targets.queryPort = tavrPort;
    targets.sntpPort = ntpPort;
    targets.probePhaseMs = kProbeMs;
    for (const QString& a : addresses)
        targets.queryAddresses << QHostAddress(a);
    return targets;
}

QList<DiscoveredServer> TestDiscoveryLoopback::runDiscovery(const QStringList& addresses, int listenMs)
{
    DiscoveryClient client;
    client.setTargetsForTesting(targetsFor(addresses));
    QSignalSpy spy(&client, &DiscoveryClient::finished);
    client.start(listenMs);
    if (!spy.wait(listenMs + 10000) || spy.size() != 1)
        return {{}};   // a single default record marks the failure
    return spy.at(0).at(0).value<QList<DiscoveredServer>>();
}

void TestDiscoveryLoopback::nothingHeardFinishesEmpty()
{
    DiscoveryClient client;
    client.setTargetsForTesting(targetsFor({"127.0.0.1"}));
    QSignalSpy spy(&client, &DiscoveryClient::finished);
    QVERIFY(!client.isRunning());
    QElapsedTimer timer;
    timer.start();
    client.start(300);
    QVERIFY(client.isRunning());
    QVERIFY(spy.wait(10000));
    QVERIFY(timer.elapsed() >= 250);   // coarse timers may fire a little early
    QVERIFY(!client.isRunning());
    QCOMPARE(spy.size(), 1);
    QVERIFY(spy.at(0).at(0).value<QList<DiscoveredServer>>().isEmpty());
    QTest::qWait(300);
    QCOMPARE(spy.size(), 1);
}

void TestDiscoveryLoopback::negativeWindowStillFinishes()
{
    DiscoveryClient client;
    client.setTargetsForTesting(targetsFor({"127.0.0.1"}));
    QSignalSpy spy(&client, &DiscoveryClient::finished);
    client.start(-5);
    QVERIFY(spy.wait(10000));
    QVERIFY(!client.isRunning());
    QTest::qWait(300);
    QCOMPARE(spy.size(), 1);
}

void TestDiscoveryLoopback::startDuringRunIsIgnored()
{
    QVERIFY(startServer("127.0.0.2", {"--id", "only"}));
    DiscoveryClient client;
    client.setTargetsForTesting(targetsFor({"127.0.0.2"}));
    QSignalSpy spy(&client, &DiscoveryClient::finished);
    client.start(400);
    QTest::qWait(100);
    client.start(50);
    QVERIFY(client.isRunning());
    QVERIFY(spy.wait(10000));
    QTest::qWait(700);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).value<QList<DiscoveredServer>>().size(), 1);
}

void TestDiscoveryLoopback::consecutiveRunsFinishOnceEach()
{
    QVERIFY(startServer("127.0.0.2", {"--id", "a", "--name", "A"}));
    DiscoveryClient client;
    client.setTargetsForTesting(targetsFor({"127.0.0.2"}));
    QSignalSpy spy(&client, &DiscoveryClient::finished);
    // A short window: the delayed resends of one run must not leak into the next.
    for (int run = 1; run <= 3; ++run) {
        client.start(run == 2 ? 20 : kListenMs);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), run, 10000);
    }
    QTest::qWait(300);
    QCOMPARE(spy.size(), 3);
    const auto last = spy.at(2).at(0).value<QList<DiscoveredServer>>();
    QCOMPARE(last.size(), 1);
    QVERIFY(last[0].answered);
}

void TestDiscoveryLoopback::severalServersSortedAndAnswered()
{
    QVERIFY(startServer("127.0.0.2", {"--id", "s1", "--name", "beta", "--flags", "synced"}));
    QVERIFY(startServer("127.0.0.3", {"--id", "s2", "--name", "Alpha", "--flags", "steady,accepting",
                                       "--stratum", "1", "--clients", "4", "--source", "gps", "--ver", "9"}));
    QVERIFY(startServer("127.0.0.4", {"--id", "s3", "--name", "alpha2", "--flags", "none"}));
    const auto list = runDiscovery({"127.0.0.2", "127.0.0.3", "127.0.0.4"});
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[0].name, QStringLiteral("Alpha"));
    QCOMPARE(list[1].name, QStringLiteral("alpha2"));
    QCOMPARE(list[2].name, QStringLiteral("beta"));
    QCOMPARE(list[0].id, QStringLiteral("s2"));
    QCOMPARE(list[0].address, QStringLiteral("127.0.0.3"));
    QCOMPARE(list[0].stratum, 1);
    QCOMPARE(list[0].clients, 4);
    QCOMPARE(list[0].source, QStringLiteral("gps"));
    QCOMPARE(list[0].ver, QStringLiteral("9"));
    QVERIFY(list[0].steady && list[0].accepting && !list[0].synced);
    QVERIFY(list[2].synced && !list[2].steady && !list[2].accepting);
    QVERIFY(!list[1].synced && !list[1].steady && !list[1].accepting);
    for (const auto& s : list) {
        QVERIFY(s.answered);
        QVERIFY(!s.onThisComputer);
    }
}

void TestDiscoveryLoopback::answerRules()
{
    QVERIFY(startServer("127.0.0.2", {"--id", "stale", "--discovery", "stale-nonce"}));
    QVERIFY(startServer("127.0.0.3", {"--id", "plain", "--answer-type", "2"}));
    QVERIFY(startServer("127.0.0.4", {"--id", "broken", "--discovery", "malformed"}));
    QVERIFY(startServer("127.0.0.5", {"--id", "nojson", "--discovery", "bad-json"}));
    QVERIFY(startServer("127.0.0.6", {"--omit", "id,name"}));
    QVERIFY(startServer("127.0.0.7", {"--id", "mute", "--discovery", "silent"}));
    QVERIFY(startServer("127.0.0.8", {"--answer-type", "2", "--answer-json", R"({"id":"raw","name":7})"}));
    const auto list = runDiscovery({"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6",
                                    "127.0.0.7", "127.0.0.8"});
    QStringList ids;
    for (const auto& s : list)
        ids << s.id;
    ids.sort();
    QCOMPARE(ids, (QStringList{"127.0.0.6", "plain", "raw"}));
    for (const auto& s : list)
        QCOMPARE(s.name, s.id == "plain" ? QStringLiteral("Test Server") : QStringLiteral("(unnamed)"));
}

void TestDiscoveryLoopback::sameIdFromTwoAddresses()
{
    QVERIFY(startServer("127.0.0.2", {"--id", "twin", "--name", "First"}));
    QVERIFY(startServer("127.0.0.3", {"--id", "twin", "--name", "Later", "--discovery-delay-ms", "250",
                                       "--sntp", "silent"}));
    const auto list = runDiscovery({"127.0.0.2", "127.0.0.3"});
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].name, QStringLiteral("Later"));   // the latest answer wins
    QCOMPARE(list[0].address, QStringLiteral("127.0.0.2"));   // the one that answered the probe
    QVERIFY(list[0].answered);
}

void TestDiscoveryLoopback::badSntpRepliesDoNotCount()
{
    QVERIFY(startServer("127.0.0.2", {"--id", "a", "--sntp", "wrong-origin"}));
    QVERIFY(startServer("127.0.0.3", {"--id", "b", "--sntp", "wrong-mode"}));
    QVERIFY(startServer("127.0.0.4", {"--id", "c", "--leap", "3"}));
    QVERIFY(startServer("127.0.0.5", {"--id", "d", "--delay-ms", "4000"}));
    QVERIFY(startServer("127.0.0.6", {"--id", "e", "--stratum", "0"}));
    const auto list = runDiscovery({"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"});
    QCOMPARE(list.size(), 5);
    for (const auto& s : list) {
        QVERIFY2(!s.answered, qPrintable(s.id));
        QVERIFY(s.address.startsWith("127.0.0."));
    }
}

void TestDiscoveryLoopback::twoServersOneAddressOneProbe()
{
    // A fake answering every query twice, as two servers ("p" and "q") from
    // one address; the time service on that address logs what it gets.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString log = dir.filePath("sntp.jsonl");
    servers.emplace_back();
    QVERIFY(servers.back().start({"--listen", "127.0.0.9", "--tavr-port", "0", "--ntp-port",
                                  QString::number(ntpPort), "--sntp-log", log}));
    QUdpSocket fake;
    QVERIFY(fake.bind(QHostAddress("127.0.0.9"), tavrPort));
    connect(&fake, &QUdpSocket::readyRead, &fake, [&fake] {
        while (fake.hasPendingDatagrams()) {
            QHostAddress from;
            quint16 port = 0;
            QByteArray query(2048, 0);
            query.resize(int(fake.readDatagram(query.data(), query.size(), &from, &port)));
            for (const char* id : {"p", "q"})
                fake.writeDatagram(buildFrame(2, QByteArray("{\"id\":\"") + id + "\"}"), from, port);
        }
    });
    const auto list = runDiscovery({"127.0.0.9"});
    QCOMPARE(list.size(), 2);
    QVERIFY(list[0].answered);
    QVERIFY(list[1].answered);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count('\n'), 1);
}

void TestDiscoveryLoopback::probeReady()
{
    QVERIFY(startServer("127.0.0.2", {}));
    QVERIFY(probeTimeServerOnPort("127.0.0.2", ntpPort, 2000));
    QVERIFY(probeTimeServerOnPort("::ffff:127.0.0.2", ntpPort, 2000));
}

void TestDiscoveryLoopback::probeNotAnswering()
{
    QVERIFY(startServer("127.0.0.2", {"--sntp", "silent"}));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!probeTimeServerOnPort("127.0.0.2", ntpPort, 300));
    QVERIFY(timer.elapsed() >= 250);
    QVERIFY(!probeTimeServerOnPort("127.0.0.3", ntpPort, 200));   // nobody there at all
}

void TestDiscoveryLoopback::probeBadReplies_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("wrong origin") << QStringList{"--sntp", "wrong-origin"};
    QTest::newRow("wrong mode") << QStringList{"--sntp", "wrong-mode"};
    QTest::newRow("truncated") << QStringList{"--sntp", "truncated"};
    QTest::newRow("unsynchronised") << QStringList{"--leap", "3"};
    QTest::newRow("stratum 0") << QStringList{"--stratum", "0"};
}

void TestDiscoveryLoopback::probeBadReplies()
{
    QFETCH(QStringList, args);
    QVERIFY(startServer("127.0.0.2", args));
    QVERIFY(!probeTimeServerOnPort("127.0.0.2", ntpPort, 400));
}

void TestDiscoveryLoopback::probeTooLate()
{
    QVERIFY(startServer("127.0.0.2", {"--delay-ms", "600"}));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!probeTimeServerOnPort("127.0.0.2", ntpPort, 500));
    QVERIFY(timer.elapsed() >= 450);
    QVERIFY(probeTimeServerOnPort("127.0.0.2", ntpPort, 3000));
}

void TestDiscoveryLoopback::probeBadAddress()
{
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!probeTimeServer(QStringLiteral("not-an-ip"), 500));
    QVERIFY(!probeTimeServer(QStringLiteral("999.1.1.1"), 500));
    QVERIFY(!probeTimeServer(QString(), 500));
    QVERIFY(timer.elapsed() < 400);
}

QTEST_GUILESS_MAIN(TestDiscoveryLoopback)
#include "tst_discoveryloopback.moc"
