#include "discoverymessages.h"

#include "frame.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRandomGenerator64>

#include <cmath>
#include <limits>

namespace {
const QString kMappedPrefix = QStringLiteral("::ffff:");
}

QString newDiscoveryNonce()
{
    const quint32 value = quint32(QRandomGenerator64::global()->generate());
    return QString::number(value, 16);
}

QByteArray makeDiscoveryQuery(const QString& nonce)
{
    // Written by hand: the members must come in this order, without spaces,
    // and a JSON object writer would sort them.
    QJsonObject holder;
    holder.insert(QStringLiteral("n"), nonce);
    QByteArray quoted = QJsonDocument(holder).toJson(QJsonDocument::Compact);   // {"n":"..."}
    quoted = quoted.mid(5, quoted.size() - 6);                                  // "..."
    const QByteArray body = "{\"nonce\":" + quoted + ",\"client\":\"Tavrin Pellum\"}";
    return buildFrame(DiscoveryQuery, body);
}

QString plainAddressText(const QString& address)
{
    if (address.startsWith(kMappedPrefix, Qt::CaseSensitive))
        return address.mid(kMappedPrefix.size());
    return address;
}

QString plainAddressText(const QHostAddress& address)
{
    return plainAddressText(address.toString());
}

QString jsonString(const QJsonObject& object, const QString& key, const QString& fallback)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : fallback;
}

int jsonInt(const QJsonObject& object, const QString& key, int fallback)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return fallback;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::floor(number) != number)
        return fallback;
    if (number < double(std::numeric_limits<int>::min()) || number > double(std::numeric_limits<int>::max()))
        return fallback;
    return int(number);
}

bool jsonBool(const QJsonObject& object, const QString& key, bool fallback)
{
    const QJsonValue value = object.value(key);
    return value.isBool() ? value.toBool() : fallback;
}

std::optional<DiscoveredServer> readDiscoveryAnswer(const QByteArray& datagram, const QString& nonce,
                                                    const QString& senderAddress)
{
    static const QSet<quint8> answerTypes{DiscoveryAnswer, DiscoveryAnswerNonce};
    const std::optional<Frame> frame = parseFrame(datagram, answerTypes);
    if (!frame)
        return std::nullopt;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(frame->body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    if (frame->type == DiscoveryAnswerNonce && jsonString(object, QStringLiteral("nonce")) != nonce)
        return std::nullopt;

    DiscoveredServer server;
    server.address = plainAddressText(senderAddress);
    server.id = jsonString(object, QStringLiteral("id"), server.address);
    server.name = jsonString(object, QStringLiteral("name"), QStringLiteral("(unnamed)"));
    server.source = jsonString(object, QStringLiteral("source"));
    server.ver = jsonString(object, QStringLiteral("ver"));
    server.stratum = jsonInt(object, QStringLiteral("stratum"));
    server.clients = jsonInt(object, QStringLiteral("clients"));
    server.synced = jsonBool(object, QStringLiteral("synced"));
    server.accepting = jsonBool(object, QStringLiteral("accepting"));
    server.steady = jsonBool(object, QStringLiteral("steady"));
    return server;
}
