// Discovery figures: whole runs against 1, 16 and 64 test servers on a test
// LAN (wall and CPU time of this process per run), and the rate at which
// answer datagrams are read and merged.

#include "discoveryclient.h"
#include "discoverymessages.h"
#include "frame.h"
#include "heardservers.h"
#include "netlan/netlan.h"
#include "testserverprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>

#include <ctime>
#include <cstdio>
#include <list>

namespace {

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void benchAnswerParsing()
{
    const QByteArray body = R"({"nonce":"9f3a11c2","id":"srv-0042","name":"Lab server 42","source":"gps",)"
                            R"("ver":"1.4.2","stratum":1,"clients":12,"synced":true,"accepting":true,"steady":true})";
    const QByteArray datagram = buildFrame(DiscoveryAnswerNonce, body);
    const QByteArray garbage = QByteArray("TAVR\x01\x03\x00\x10", 8) + QByteArray(16, 'x');
    constexpr int kRounds = 200000;

    QElapsedTimer timer;
    timer.start();
    int accepted = 0;
    for (int i = 0; i < kRounds; ++i)
        accepted += readDiscoveryAnswer(datagram, QStringLiteral("9f3a11c2"), QStringLiteral("198.18.0.42")).has_value();
    const double goodNs = double(timer.nsecsElapsed()) / kRounds;

    timer.restart();
    for (int i = 0; i < kRounds; ++i)
        accepted += readDiscoveryAnswer(garbage, QStringLiteral("9f3a11c2"), QStringLiteral("198.18.0.42")).has_value();
    const double badNs = double(timer.nsecsElapsed()) / kRounds;

    HeardServerMap heard;
    auto server = readDiscoveryAnswer(datagram, QStringLiteral("9f3a11c2"), QStringLiteral("198.18.0.42"));
    timer.restart();
    for (int i = 0; i < kRounds; ++i) {
        server->id = QString::number(i % 64);
        server->address = QStringLiteral("198.18.0.%1").arg(i % 12);
        recordAnswer(heard, *server);
    }
    const double mergeNs = double(timer.nsecsElapsed()) / kRounds;

    std::printf("answer read (valid, %lld bytes): %.0f ns each, %.0f per second\n",
                static_cast<long long>(datagram.size()), goodNs, 1e9 / goodNs);
    std::printf("answer read (bad JSON, dropped): %.0f ns each, %.0f per second\n", badNs, 1e9 / badNs);
    std::printf("answer merge (64 ids x 12 addresses): %.0f ns each\n", mergeNs);
    if (accepted != kRounds)
        std::printf("unexpected: %d answers accepted\n", accepted);
}

// All servers run in the first server namespace, each on an address of its own.
bool startServers(std::list<TestServerProcess>& servers, const NetLan::Lan& lan, int count)
{
    for (int i = int(servers.size()); i < count; ++i) {
        const QString address = i == 0 ? lan.serverAddr[0] : QStringLiteral("198.18.0.%1").arg(100 + i);
        if (i > 0 && QProcess::execute("ip", {"-n", lan.serverNs[0], "addr", "add", address + "/24",
                                               "dev", "eth0"}) != 0)
            return false;
        servers.emplace_back();
        if (!servers.back().start({"--listen", address, "--id", QStringLiteral("srv-%1").arg(i),
                                   "--name", QStringLiteral("Server %1").arg(i)}, lan.serverNs[0]))
            return false;
    }
    return true;
}

void benchRuns(const NetLan::Lan& lan)
{
    std::list<TestServerProcess> servers;
    for (int count : {1, 16, 64}) {
        if (!startServers(servers, lan, count)) {
            std::printf("could not start %d test servers\n", count);
            return;
        }
        for (int listenMs : {1500, 300}) {
            constexpr int kRuns = 3;
            DiscoveryClient client;
            QSignalSpy spy(&client, &DiscoveryClient::finished);
            double wallMs = 0;
            double cpuMs = 0;
            int heardMin = 1 << 30;
            int answeredMin = 1 << 30;
            for (int run = 0; run < kRuns; ++run) {
                QElapsedTimer timer;
                timer.start();
                const double cpu0 = cpuSeconds();
                client.start(listenMs);
                spy.wait(listenMs + 10000);
                wallMs += double(timer.nsecsElapsed()) / 1e6;
                cpuMs += (cpuSeconds() - cpu0) * 1000;
                const auto list = spy.takeFirst().at(0).value<QList<DiscoveredServer>>();
                int answered = 0;
                for (const auto& s : list)
                    answered += s.answered;
                heardMin = std::min(heardMin, int(list.size()));
                answeredMin = std::min(answeredMin, answered);
            }
            std::printf("discovery, %2d servers, window %4d ms: wall %.1f ms, CPU %.2f ms per run; "
                        "heard %d, answered %d (worst of %d runs)\n",
                        count, listenMs, wallMs / kRuns, cpuMs / kRuns, heardMin, answeredMin, kRuns);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (NetLan::isRoot() && !NetLan::insideLan()) {
        NetLan::reexecInside(argc, argv, 1);
        return 1;
    }
    QCoreApplication app(argc, argv);
    benchAnswerParsing();
    if (!NetLan::insideLan()) {
        std::printf("discovery runs skipped: the test LAN needs root\n");
        return 0;
    }
    const NetLan::Lan lan = NetLan::fromEnvironment();
    if (lan.serverNs.isEmpty() || !NetLan::enter(lan.clientNs)) {
        std::printf("could not enter the test LAN\n");
        return 1;
    }
    benchRuns(lan);
    return 0;
}
