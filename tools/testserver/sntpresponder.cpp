#include "sntpresponder.h"

#include "elapsedclock.h"
#include "receivetime.h"
#include "sntp.h"

#include <QDateTime>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

namespace {

// Nanoseconds, as a real server stamps: whole milliseconds would be a bias
// of their own in every measurement against it.
void putTimestamp(QByteArray* packet, int at, qint64 unixNs)
{
    const quint64 ts = unixNsToNtp(unixNs);
    for (int i = 0; i < 8; ++i)
        (*packet)[at + i] = char(ts >> (56 - 8 * i));
}

} // namespace

SntpResponder::SntpResponder(QObject* parent)
    : QObject(parent)
{
}

bool SntpResponder::start(const ServerOptions& options, QString* error)
{
    m_options = options;
    if (!m_log.open(options.sntpLog, error))
        return false;
    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(options.listen, options.ntpPort)) {
        *error = QStringLiteral("SNTP %1:%2: %3")
                     .arg(options.listen.toString())
                     .arg(options.ntpPort)
                     .arg(m_socket->errorString());
        return false;
    }
    m_receiveStamps = enableReceiveStamps(m_socket->socketDescriptor());
    connect(m_socket, &QUdpSocket::readyRead, this, &SntpResponder::onReadyRead);
    return true;
}

qint64 SntpResponder::serverNowNs() const
{
    return wallClockNs() + m_options.offsetMs * 1000000;
}

QByteArray SntpResponder::buildReply(const QByteArray& request, qint64 receiveNs) const
{
    QByteArray reply(48, '\0');
    const int mode = m_options.sntp == QLatin1String("wrong-mode") ? 3 : 4;
    reply[0] = char((m_options.leap << 6) | (4 << 3) | mode);
    reply[1] = char(m_options.stratum);
    reply[2] = request.size() > 2 ? request[2] : char(6);
    reply[3] = char(-20); // precision about a microsecond
    reply[12] = 'L';
    reply[13] = 'O';
    reply[14] = 'C';
    reply[15] = 'L';
    putTimestamp(&reply, 16, receiveNs);
    for (int i = 0; i < 8; ++i)
        reply[24 + i] = request.size() >= 48 ? request[40 + i] : char(0);
    if (m_options.sntp == QLatin1String("wrong-origin"))
        reply[31] = char(reply[31] ^ 0x01);
    putTimestamp(&reply, 32, receiveNs);
    putTimestamp(&reply, 40, serverNowNs());
    if (m_options.sntp == QLatin1String("truncated"))
        reply.truncate(47);
    return reply;
}

void SntpResponder::onReadyRead()
{
    while (m_socket->hasPendingDatagrams()) {
        // Stamped when the kernel took the request, as a real server does:
        // the time this process waited to read it is no part of the trip.
        qint64 ageNs = 0;
        if (!m_receiveStamps || !peekReceiveAgeNs(m_socket->socketDescriptor(), &ageNs))
            ageNs = 0;
        const QNetworkDatagram in = m_socket->receiveDatagram(512);
        const qint64 receiveNs = serverNowNs() - ageNs;
        if (m_log.isOpen()) {
            m_log.write(QJsonObject{{"from", in.senderAddress().toString()},
                                    {"port", in.senderPort()},
                                    {"rx_ms", double(QDateTime::currentMSecsSinceEpoch())},
                                    {"size", int(in.data().size())}});
        }
        const QByteArray request = in.data();
        if (m_options.sntp == QLatin1String("silent"))
            continue;
        if (request.size() < 48 || (quint8(request[0]) & 7) != 3)
            continue; // only client requests get an answer
        const QHostAddress to = in.senderAddress();
        const quint16 port = quint16(in.senderPort());
        if (m_options.delayMs <= 0) {
            m_socket->writeDatagram(buildReply(request, receiveNs), to, port);
        } else {
            // The transmit time is taken when the reply really leaves.
            QTimer::singleShot(m_options.delayMs, this, [this, request, receiveNs, to, port] {
                m_socket->writeDatagram(buildReply(request, receiveNs), to, port);
            });
        }
    }
}
