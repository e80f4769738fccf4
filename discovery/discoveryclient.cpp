#include "discoveryclient.h"

#include "discoverymessages.h"
#include "frame.h"
#include "localaddresses.h"

#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

namespace {
constexpr int kResendDelaysMs[] = {60, 120};
}

DiscoveryClient::DiscoveryClient(QObject* parent)
    : QObject(parent)
    , listenTimer(new QTimer(this))
{
    listenTimer->setSingleShot(true);
    connect(listenTimer, &QTimer::timeout, this, &DiscoveryClient::onHeardAll);
}

bool DiscoveryClient::isRunning() const
{
    return running;
}

void DiscoveryClient::setTargetsForTesting(const Targets& newTargets)
{
    targets = newTargets;
}

void DiscoveryClient::start(int listenMs)
{
    if (running)
        return;
    running = true;
    ++runNumber;
    heardServers.clear();
    answeredAddresses.clear();
    probedAddresses.clear();
    nonce = newDiscoveryNonce();

    querySocket = new QUdpSocket(this);
    querySocket->bind(QHostAddress::AnyIPv4, 0);   // a failure only means nothing is heard
    connect(querySocket, &QUdpSocket::readyRead, this, &DiscoveryClient::onReadyRead);

    sendQuery();
    const quint64 run = runNumber;
    for (int delayMs : kResendDelaysMs) {
        QTimer::singleShot(delayMs, this, [this, run] {
            if (running && run == runNumber)
                sendQuery();
        });
    }
    listenTimer->start(std::max(0, listenMs));
}

void DiscoveryClient::sendQuery()
{
    if (!querySocket)
        return;
    const QByteArray datagram = makeDiscoveryQuery(nonce);
    if (datagram.isEmpty())
        return;
    if (!targets.queryAddresses.isEmpty()) {
        for (const QHostAddress& address : std::as_const(targets.queryAddresses))
            querySocket->writeDatagram(datagram, address, targets.queryPort);
        return;
    }
    querySocket->writeDatagram(datagram, QHostAddress::Broadcast, targets.queryPort);
    const QList<QHostAddress> broadcasts = interfaceBroadcastAddresses();
    for (const QHostAddress& broadcast : broadcasts)
        querySocket->writeDatagram(datagram, broadcast, targets.queryPort);
}

void DiscoveryClient::onReadyRead()
{
    char buffer[kFrameReadSize];
    while (querySocket && querySocket->hasPendingDatagrams()) {
        QHostAddress sender;
        const qint64 size = querySocket->readDatagram(buffer, sizeof buffer, &sender);
        if (size < 0)
            break;   // a failing read would otherwise spin
        const std::optional<DiscoveredServer> answer =
            readDiscoveryAnswer(QByteArray(buffer, int(size)), nonce, plainAddressText(sender));
        if (answer)
            recordAnswer(heardServers, *answer);
    }
}

void DiscoveryClient::onHeardAll()
{
    if (querySocket) {
        querySocket->close();
        querySocket->deleteLater();
        querySocket = nullptr;
    }
    runProbePhase();
}

void DiscoveryClient::onDone()
{
    if (!running)
        return;
    running = false;
    for (QUdpSocket** socket : {&querySocket, &probeSocket}) {
        if (*socket) {
            (*socket)->close();
            (*socket)->deleteLater();
            *socket = nullptr;
        }
    }
    emit finished(settleHeardServers(heardServers, answeredAddresses));
}
