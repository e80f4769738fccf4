// Flood of junk at a running discovery client and a reporting clock watcher,
// on a test LAN of network namespaces: thousands of random and near-valid
// datagrams from another namespace must change nothing. Needs root; skips
// otherwise.

#include "clockwatcher.h"
#include "discoveryclient.h"
#include "frame.h"
#include "netlan/netlan.h"
#include "testserverprocess.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <list>
#include <random>
#include <thread>

namespace {
constexpr int kServers = 3;   // two time servers, the third namespace floods
constexpr int kFloodDatagrams = 5000;
constexpr int kFloodSeconds = 5;
NetLan::Lan lan;

QByteArray rawFrame(quint8 type, const QByteArray& body, int lengthField)
{
    QByteArray frame("TAVR\x01", 5);
    frame.append(char(type));
    frame.append(char((lengthField >> 8) & 0xFF));
    frame.append(char(lengthField & 0xFF));
    return frame + body;
}

QByteArray frameOf(quint8 type, const QByteArray& body)
{
    return rawFrame(type, body, int(body.size()));
}

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Junk for the discovery socket (to discovery) or the report socket.
class JunkMaker {
public:
    JunkMaker(const QString& clientId, quint32 seed)
        : clientId(clientId), random(seed)
    {
    }

    QByteArray next(bool toDiscovery)
    {
        switch (pick(9)) {
        case 0: {   // plain noise, sometimes longer than any frame
            QByteArray bytes(pick(1200), Qt::Uninitialized);
            for (char& c : bytes)
                c = char(pick(256));
            return bytes;
        }
        case 1:     // well framed, body is not JSON
            return frameOf(toDiscovery ? 2 + pick(2) : 5, QByteArray("{\"id\":\"x\",") + noise(pick(40)));
        case 2:     // body is JSON but not an object
            return frameOf(toDiscovery ? 2 : 5, pick(2) ? QByteArray("[\"id\",1]") : QByteArray("\"evil\""));
        case 3: {   // a good body in a frame of a type this socket does not take
            const quint8 types[] = {0, 1, 4, 6, 255, quint8(toDiscovery ? 5 : 2), quint8(toDiscovery ? 5 : 3)};
            return frameOf(types[pick(7)], json({{"id", clientId}, {"name", "Evil"}}));
        }
        case 4: {   // length field off by one either way, or missing bytes
            const QByteArray body = json({{"id", toDiscovery ? QStringLiteral("evil") : clientId}});
            const int delta = pick(2) ? 1 : -1;
            if (pick(3) == 0)
                return frameOf(toDiscovery ? 2 : 5, body).left(8 + pick(body.size()));
            return rawFrame(toDiscovery ? 2 : 5, body, int(body.size()) + delta);
        }
        case 5: {   // oversize: length field over the limit, datagram longer than a frame
            const QByteArray body = QByteArray("{\"id\":\"evil\",\"pad\":\"") + QByteArray(1100, 'p') + "\"}";
            return rawFrame(toDiscovery ? 2 : 5, body, 1025 + pick(64000));
        }
        case 6: {   // wrong version or magic
            QByteArray frame = frameOf(toDiscovery ? 2 : 5, json({{"id", clientId}}));
            if (pick(2))
                frame[4] = char(2);
            else
                frame[1] = 'a';
            return frame;
        }
        case 7:     // a stale nonce, and a nonce-less answer that still needs one
            return frameOf(3, json({{"nonce", QString::number(random(), 16)}, {"id", "evil"}, {"name", "Evil"}}));
        default: {  // report answers for other ids: another, wrong case, none, not a string
            const QJsonObject answers[] = {{{"id", "0badc0de-0000-4000-8000-000000000000"}},
                                           {{"id", clientId.toUpper()}},
                                           {{"ok", true}},
                                           {{"id", 42}},
                                           {{"id", clientId + " "}}};
            return frameOf(5, json(answers[pick(5)]));
        }
        }
    }

private:
    int pick(int n) { return int(random() % quint32(n)); }
    QByteArray noise(int n)
    {
        QByteArray bytes(n, Qt::Uninitialized);
        for (char& c : bytes)
            c = char(pick(256));
        return bytes;
    }

    QString clientId;
    std::mt19937 random;
};

struct FloodResult {
    int sent = 0;
    int failed = 0;
    qint64 elapsedMs = 0;
};

// Sends the flood from namespace `ns` on a thread of its own (the namespace
// is per thread), alternating between the two ports. Bounded in count and time.
void flood(const QString& ns, const QString& target, quint16 discoveryPort, quint16 reportPort,
           const QString& clientId, FloodResult* result, std::atomic<bool>* done)
{
    const auto start = std::chrono::steady_clock::now();
    int fd = -1;
    if (NetLan::enter(ns))
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd >= 0) {
        JunkMaker junk(clientId, 20261207u);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        ::inet_pton(AF_INET, target.toLatin1().constData(), &to.sin_addr);
        for (int i = 0; i < kFloodDatagrams; ++i) {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(kFloodSeconds))
                break;
            const bool toDiscovery = i % 2 == 0;
            to.sin_port = htons(toDiscovery ? discoveryPort : reportPort);
            const QByteArray datagram = junk.next(toDiscovery);
            if (::sendto(fd, datagram.constData(), size_t(datagram.size()), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to) < 0)
                ++result->failed;
            ++result->sent;
            // Short pauses let the receivers read much of it instead of the
            // socket buffers dropping it.
            if (i % 100 == 99)
                std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
        ::close(fd);
    }
    result->elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start).count();
    done->store(true);
}

// UDP counters of this process's namespace: datagrams delivered, and errors
// (mostly full receive buffers).
QPair<qint64, qint64> udpCounters()
{
    QFile file(QStringLiteral("/proc/net/snmp"));
    if (!file.open(QIODevice::ReadOnly))
        return {-1, -1};
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith("Udp:") || !lines[i + 1].startsWith("Udp:"))
            continue;
        const QList<QByteArray> names = lines[i].simplified().split(' ');
        const QList<QByteArray> values = lines[i + 1].simplified().split(' ');
        const qint64 in = values.value(names.indexOf("InDatagrams")).toLongLong();
        const qint64 errors = values.value(names.indexOf("InErrors")).toLongLong();
        return {in, errors};
    }
    return {-1, -1};
}

QStringList idsOf(const QList<DiscoveredServer>& list)
{
    QStringList ids;
    for (const auto& s : list)
        ids << s.id + '@' + s.address;
    return ids;
}
} // namespace

class TestDiscoveryFlood : public QObject {
    Q_OBJECT

private slots:
    void floodChangesNothing();

private:
    bool startServer(const QString& ns, const QStringList& args);
    std::list<TestServerProcess> servers;
};

bool TestDiscoveryFlood::startServer(const QString& ns, const QStringList& args)
{
    servers.emplace_back();
    if (servers.back().start(args, ns))
        return true;
    qWarning() << "test server did not start in" << ns << servers.back().errors();
    return false;
}

void TestDiscoveryFlood::floodChangesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString control = dir.filePath("alpha.ctl");
    const QString reportLog = dir.filePath("reports.jsonl");
    auto setControl = [&](const QByteArray& text) {
        QSaveFile file(control);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
    };
    // Reports are broadcast, so both servers hear them: Beta never answers
    // them, Alpha only once the flood is over.
    QVERIFY(setControl("--report-answer silent\n"));
    QVERIFY(startServer(lan.serverNs[0], {"--listen", lan.serverAddr[0], "--id", "a", "--name", "Alpha",
                                          "--control", control, "--report-log", reportLog}));
    QVERIFY(startServer(lan.serverNs[1], {"--listen", lan.serverAddr[1], "--id", "b", "--name", "Beta",
                                          "--report-answer", "silent"}));
    const QStringList expected{"a@" + lan.serverAddr[0], "b@" + lan.serverAddr[1]};

    ClockWatcher watcher;
    watcher.setServer(lan.serverAddr[0], QStringLiteral("Alpha"));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.state(), ClockState::Sync, 60000);
    watcher.setReporting(true);

    // The report socket's port, as the server saw it, must be one of the
    // watcher's own sockets.
    quint16 reportPort = 0;
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        QFile file(reportLog);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QJsonObject line = QJsonDocument::fromJson(file.readLine()).object();
        reportPort = quint16(line.value("port").toInt());
        return reportPort != 0;
    }(), 20000);
    QList<quint16> watcherPorts;
    for (const QUdpSocket* socket : watcher.findChildren<QUdpSocket*>())
        watcherPorts << socket->localPort();
    QVERIFY2(watcherPorts.contains(reportPort), qPrintable(QString::number(reportPort)));
    QVERIFY(!watcher.isReported());

    DiscoveryClient client;
    DiscoveryClient::Targets targets;
    targets.probePhaseMs = 1500;
    client.setTargetsForTesting(targets);
    QSignalSpy spy(&client, &DiscoveryClient::finished);
    client.start(8000);
    const auto* querySocket = client.findChild<QUdpSocket*>();
    QVERIFY(querySocket);
    const quint16 discoveryPort = querySocket->localPort();
    QVERIFY(discoveryPort != 0);
    QTest::qWait(500);   // the genuine answers come first

    const auto before = udpCounters();
    FloodResult result;
    std::atomic<bool> done{false};
    std::thread flooder(flood, lan.serverNs[2], lan.clientAddr, discoveryPort, reportPort, watcher.clientId(),
                        &result, &done);
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 30000);
    flooder.join();
    QTest::qWait(300);
    const auto after = udpCounters();
    const qint64 delivered = after.first - before.first;
    const qint64 dropped = after.second - before.second;
    qInfo("flood: %d datagrams sent (%d send errors) in %lld ms; this namespace took %lld UDP datagrams, "
          "%lld receive errors",
          result.sent, result.failed, result.elapsedMs, delivered, dropped);
    QCOMPARE(result.sent, kFloodDatagrams);
    QCOMPARE(result.failed, 0);
    // The flood really arrived (delivered or dropped at a full buffer).
    QVERIFY2(delivered + dropped >= kFloodDatagrams / 2, "flood did not reach the client namespace");
    QVERIFY2(delivered > 0, "no flood datagram was delivered to a socket");

    // The run under fire heard the real servers and nothing else.
    QVERIFY(spy.wait(30000));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(idsOf(spy.at(0).at(0).value<QList<DiscoveredServer>>()), expected);

    // Nothing the flood sent counted as an answer to the reports.
    QVERIFY(!watcher.isReported());
    QCOMPARE(watcher.state(), ClockState::Sync);

    // A normal run afterwards finds exactly the right servers, which also
    // shows they are still alive.
    spy.clear();
    client.start(1500);
    QVERIFY(spy.wait(30000));
    QTest::qWait(200);
    QCOMPARE(spy.size(), 1);
    const auto list = spy.at(0).at(0).value<QList<DiscoveredServer>>();
    QCOMPARE(idsOf(list), expected);
    for (const auto& s : list)
        QVERIFY(s.answered);

    // A genuine answer still marks the watcher as reported.
    QVERIFY(setControl("--report-answer normal\n"));
    QTest::qWait(800);   // the server polls its control file every 200 ms
    watcher.sendBeacon();
    QTRY_VERIFY_WITH_TIMEOUT(watcher.isReported(), 20000);
    QCOMPARE(watcher.state(), ClockState::Sync);
    watcher.setReporting(false);
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
    // The watcher keeps its identity in the settings; keep them private.
    QTemporaryDir settingsDir;
    qputenv("XDG_CONFIG_HOME", settingsDir.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestDiscoveryFlood test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_discoveryflood.moc"
