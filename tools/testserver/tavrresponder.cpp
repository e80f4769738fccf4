#include "tavrresponder.h"

#include "frame.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

namespace {

constexpr auto kBindMode = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;

QString plainAddress(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

QByteArray breakLengthField(QByteArray frame)
{
    // Claims one byte more than follows.
    const int length = frame.size() - kFrameHeaderSize + 1;
    frame[6] = char(length >> 8);
    frame[7] = char(length);
    return frame;
}

// The answer with its body padded to the full 1024 bytes and 468 more bytes
// behind the frame: 1500 in all, a frame only in its first 1032 bytes.
QByteArray oversize(quint8 type, const QByteArray& body)
{
    QJsonObject object = QJsonDocument::fromJson(body).object();
    object.insert("pad", QString());
    const int room = kFrameMaxBody - int(QJsonDocument(object).toJson(QJsonDocument::Compact).size());
    object.insert("pad", QString(qMax(0, room), u'p'));
    return buildFrame(type, QJsonDocument(object).toJson(QJsonDocument::Compact)) + QByteArray(468, ' ');
}

} // namespace

TavrResponder::TavrResponder(QObject* parent)
    : QObject(parent)
{
}

bool TavrResponder::start(const ServerOptions& options, QString* error)
{
    m_options = options;
    if (!m_reportLog.open(options.reportLog, error) || !m_queryLog.open(options.queryLog, error))
        return false;

    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(options.listen, options.tavrPort, kBindMode)) {
        *error = QStringLiteral("TAVR %1:%2: %3")
                     .arg(options.listen.toString())
                     .arg(options.tavrPort)
                     .arg(m_socket->errorString());
        return false;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, [this] { onReadyRead(m_socket); });

    // A socket bound to one address never sees broadcasts; listen on the
    // broadcast addresses too. Never for loopback: nothing outside this
    // computer may get an answer from a loopback test server.
    const bool specific = options.listen != QHostAddress(QHostAddress::AnyIPv4);
    if (specific && options.broadcastListen && !options.listen.isLoopback()) {
        QList<QHostAddress> targets{QHostAddress(QHostAddress::Broadcast)};
        for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
                if (entry.ip() == options.listen && !entry.broadcast().isNull()
                    && !targets.contains(entry.broadcast()))
                    targets << entry.broadcast();
            }
        }
        for (const QHostAddress& target : targets) {
            auto* socket = new QUdpSocket(this);
            if (!socket->bind(target, options.tavrPort, kBindMode)) {
                *error = QStringLiteral("TAVR broadcast %1:%2: %3")
                             .arg(target.toString())
                             .arg(options.tavrPort)
                             .arg(socket->errorString());
                return false;
            }
            connect(socket, &QUdpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            m_broadcastSockets << socket;
        }
    }
    return true;
}

void TavrResponder::onReadyRead(QUdpSocket* socket)
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram in = socket->receiveDatagram(65536);
        const auto frame = parseFrame(in.data(), {DiscoveryQuery, StatusReport});
        if (!frame)
            continue;
        if (frame->type == DiscoveryQuery)
            answerQuery(in, frame->body);
        else
            answerReport(in, frame->body, socket);
    }
}

QByteArray TavrResponder::discoveryAnswerBody(const QString& nonce) const
{
    if (!m_options.answerJson.isEmpty())
        return m_options.answerJson.toUtf8();
    QJsonObject o{{"id", m_options.id},
                  {"name", m_options.name},
                  {"source", m_options.source},
                  {"ver", m_options.ver},
                  {"stratum", m_options.stratum},
                  {"clients", m_options.clients},
                  {"synced", m_options.flags.contains(QLatin1String("synced"))},
                  {"accepting", m_options.flags.contains(QLatin1String("accepting"))},
                  {"steady", m_options.flags.contains(QLatin1String("steady"))}};
    if (m_options.answerType == 3)
        o.insert("nonce", m_options.discovery == QLatin1String("stale-nonce") ? nonce + QLatin1String("0") : nonce);
    for (const QString& key : m_options.omit)
        o.remove(key);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

void TavrResponder::answerQuery(const QNetworkDatagram& in, const QByteArray& body)
{
    const QJsonObject query = QJsonDocument::fromJson(body).object();
    if (m_queryLog.isOpen()) {
        m_queryLog.write(QJsonObject{{"from", plainAddress(in.senderAddress())},
                                     {"port", in.senderPort()},
                                     {"to", plainAddress(in.destinationAddress())},
                                     {"rx_ms", double(QDateTime::currentMSecsSinceEpoch())},
                                     {"query", query}});
    }
    if (m_options.discovery == QLatin1String("silent"))
        return;
    const QString nonce = query.value("nonce").toString();
    QByteArray answerBody = m_options.discovery == QLatin1String("bad-json") ? QByteArray("{\"id\":")
                                                                              : discoveryAnswerBody(nonce);
    QByteArray datagram = buildFrame(quint8(m_options.answerType), answerBody);
    if (datagram.isEmpty())
        return;
    if (m_options.discovery == QLatin1String("malformed"))
        datagram = breakLengthField(datagram);
    else if (m_options.discovery == QLatin1String("oversized"))
        datagram = oversize(quint8(m_options.answerType), answerBody);
    send(datagram, in, m_options.discoveryDelayMs);
}

void TavrResponder::answerReport(const QNetworkDatagram& in, const QByteArray& body, const QUdpSocket* via)
{
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (m_reportLog.isOpen()) {
        QHostAddress to = in.destinationAddress();
        if (to.isNull())
            to = via->localAddress();
        QJsonObject line{{"from", plainAddress(in.senderAddress())},
                         {"port", in.senderPort()},
                         {"to", plainAddress(to)},
                         {"rx_ms", double(QDateTime::currentMSecsSinceEpoch())}};
        if (parseError.error == QJsonParseError::NoError && doc.isObject())
            line.insert("report", doc.object());
        else
            line.insert("raw", QString::fromUtf8(body));
        m_reportLog.write(line);
    }

    const QString mode = m_options.reportAnswer;
    if (mode == QLatin1String("silent"))
        return;
    QString id = doc.object().value("id").toString();
    QJsonObject answer;
    if (mode == QLatin1String("wrong-id")) {
        const QString upper = id.toUpper();
        id = upper != id ? upper : id + QLatin1String("x");
    }
    if (mode != QLatin1String("no-id"))
        answer.insert("id", id);
    answer.insert("ok", true);
    const quint8 type = mode == QLatin1String("wrong-type") ? quint8(DiscoveryAnswerNonce) : quint8(StatusReportAnswer);
    QByteArray datagram = buildFrame(type, QJsonDocument(answer).toJson(QJsonDocument::Compact));
    if (mode == QLatin1String("malformed"))
        datagram = breakLengthField(datagram);
    else if (mode == QLatin1String("oversized"))
        datagram = oversize(type, QJsonDocument(answer).toJson(QJsonDocument::Compact));
    send(datagram, in, 0);
}

void TavrResponder::send(const QByteArray& datagram, const QNetworkDatagram& in, int delayMs)
{
    const QHostAddress to = in.senderAddress();
    const quint16 port = quint16(in.senderPort());
    if (delayMs <= 0) {
        m_socket->writeDatagram(datagram, to, port);
        return;
    }
    QTimer::singleShot(delayMs, this, [this, datagram, to, port] { m_socket->writeDatagram(datagram, to, port); });
}
