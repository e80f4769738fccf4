// Offset accuracy against the test time server on loopback: the server runs
// with a known offset (and optionally a reply delay); every probe's measured
// offset is compared with it.

#include "sntp.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QNetworkDatagram>
#include <QProcess>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures {
    double medianMs = 0;
    qint64 worstMs = 0;
    int answered = 0;
};

Figures measure(quint16 port, qint64 expectedOffset, int probes)
{
    QUdpSocket socket;
    socket.bind(QHostAddress::LocalHost, 0);
    std::vector<qint64> errors;
    for (int i = 0; i < probes; ++i) {
        const qint64 sent = QDateTime::currentMSecsSinceEpoch();
        socket.writeDatagram(makeSntpRequest(sent), QHostAddress::LocalHost, port);
        if (!socket.waitForReadyRead(2000))
            continue;
        const QByteArray reply = socket.receiveDatagram(512).data();
        qint64 offset = 0;
        if (readSntpReply(reply, sent, QDateTime::currentMSecsSinceEpoch(), &offset))
            errors.push_back(qAbs(offset - expectedOffset));
    }
    Figures f;
    f.answered = int(errors.size());
    if (errors.empty())
        return f;
    std::sort(errors.begin(), errors.end());
    const size_t mid = errors.size() / 2;
    f.medianMs = errors.size() % 2 ? double(errors[mid]) : (errors[mid - 1] + errors[mid]) / 2.0;
    f.worstMs = errors.back();
    return f;
}

quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString server = QStringLiteral(PELLUM_BINARY_DIR "/tools/testserver/pellum-test-server");
    struct Case {
        qint64 offset;
        int delay;
    };
    const Case cases[] = {{0, 0}, {1500, 0}, {-750, 0}, {86400000, 0}, {1500, 20}};
    constexpr int probes = 200;
    std::printf("%-12s %-9s %8s %10s %9s\n", "offset ms", "delay ms", "answered", "median ms", "worst ms");
    for (const Case& c : cases) {
        const quint16 port = freePort();
        QProcess process;
        process.start(server, {"--ntp-port", QString::number(port), "--tavr-port", "0", "--offset-ms",
                               QString::number(c.offset), "--delay-ms", QString::number(c.delay)});
        if (!process.waitForStarted(10000) || !process.waitForReadyRead(10000)
            || process.readLine().trimmed() != "ready") {
            std::fprintf(stderr, "test server did not start\n");
            return 1;
        }
        // The delayed replies are sent from the server's event loop; the
        // bench waits on its socket, so one probe at a time.
        const Figures f = measure(port, c.offset, c.delay ? probes / 4 : probes);
        std::printf("%-12lld %-9d %8d %10.1f %9lld\n", static_cast<long long>(c.offset), c.delay, f.answered,
                    f.medianMs, static_cast<long long>(f.worstMs));
        process.terminate();
        process.waitForFinished(5000);
    }
    return 0;
}
