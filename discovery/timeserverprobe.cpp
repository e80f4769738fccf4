#include "timeserverprobe.h"

#include "discoveryclient.h"
#include "discoverymessages.h"
#include "localaddresses.h"
#include "sntp.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

namespace {
constexpr int kMaxSntpDatagram = 512;
const QString kLocalhost = QStringLiteral("127.0.0.1");
}

void DiscoveryClient::runProbePhase()
{
    if (heardServers.isEmpty()) {
        onDone();
        return;
    }
    const QStringList ownAddresses = localIPv4Addresses();

    probeSocket = new QUdpSocket(this);
    probeSocket->bind(QHostAddress::AnyIPv4, 0);
    connect(probeSocket, &QUdpSocket::readyRead, this, &DiscoveryClient::onProbeReadyRead);

    probeSentAtMs = QDateTime::currentMSecsSinceEpoch();
    const QByteArray request = makeSntpRequest(probeSentAtMs);

    probedAddresses.clear();
    for (HeardServer& entry : heardServers) {
        const bool local = std::any_of(entry.addresses.cbegin(), entry.addresses.cend(),
                                       [&](const QString& a) { return ownAddresses.contains(a); });
        if (local) {
            entry.latest.onThisComputer = true;
            entry.addresses.prepend(kLocalhost);
        }
        for (const QString& address : std::as_const(entry.addresses)) {
            if (probedAddresses.contains(address))
                continue;
            probedAddresses.append(address);
            QHostAddress host;
            if (host.setAddress(address))
                probeSocket->writeDatagram(request, host, targets.sntpPort);
        }
    }
    const quint64 run = runNumber;
    QTimer::singleShot(targets.probePhaseMs, this, [this, run] {
        if (run == runNumber)
            onDone();
    });
}

void DiscoveryClient::onProbeReadyRead()
{
    char buffer[kMaxSntpDatagram];
    while (probeSocket && probeSocket->hasPendingDatagrams()) {
        QHostAddress sender;
        const qint64 size = probeSocket->readDatagram(buffer, sizeof buffer, &sender);
        const qint64 receiveMs = QDateTime::currentMSecsSinceEpoch();
        if (size < 0)
            break;   // a failing read would otherwise spin
        if (!readSntpReply(QByteArray(buffer, int(size)), probeSentAtMs, receiveMs, nullptr))
            continue;
        // Replies from addresses nobody probed change nothing; not keeping
        // them bounds the list under a flood as the heard list is bounded.
        const QString address = plainAddressText(sender);
        if (probedAddresses.contains(address) && !answeredAddresses.contains(address))
            answeredAddresses.append(address);
    }
}

bool probeTimeServerOnPort(const QString& address, quint16 port, int timeoutMs)
{
    QHostAddress host;
    if (!host.setAddress(address))
        return false;
    // The socket is IPv4 only; an IPv4-mapped text still names an IPv4 host.
    bool isIPv4 = false;
    const quint32 ipv4 = host.toIPv4Address(&isIPv4);
    if (isIPv4)
        host = QHostAddress(ipv4);
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::AnyIPv4, 0))
        return false;
    const qint64 sendMs = QDateTime::currentMSecsSinceEpoch();
    socket.writeDatagram(makeSntpRequest(sendMs), host, port);

    QDeadlineTimer deadline(std::max(0, timeoutMs), Qt::CoarseTimer);
    char buffer[kMaxSntpDatagram];
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::BoundState) {
        socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        // A flood must not hold the caller past its deadline.
        while (!deadline.hasExpired() && socket.hasPendingDatagrams()) {
            const qint64 size = socket.readDatagram(buffer, sizeof buffer);
            const qint64 receiveMs = QDateTime::currentMSecsSinceEpoch();
            if (size < 0)
                return false;   // a failing read would otherwise spin
            if (readSntpReply(QByteArray(buffer, int(size)), sendMs, receiveMs, nullptr))
                return true;
        }
    }
    return false;
}

bool probeTimeServer(const QString& address, int timeoutMs)
{
    return probeTimeServerOnPort(address, kSntpPort, timeoutMs);
}
