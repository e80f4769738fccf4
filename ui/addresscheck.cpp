#include "addresscheck.h"

#include <QNetworkInterface>
#include <QStringList>

namespace AddressCheck {

namespace {

// The address parser also takes shortened forms such as "1.2.3" (read as
// 1.2.0.3) and octal parts, which would set up a different computer than the
// one meant.
bool isDottedQuad(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        // The parser reads a leading zero as octal: 010 would become 8.
        if (part.size() > 1 && part.startsWith(QLatin1Char('0')))
            return false;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

bool isBroadcastHere(const QHostAddress& address)
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            if (!entry.broadcast().isNull() && entry.broadcast() == address)
                return true;
        }
    }
    return false;
}

} // namespace

Verdict check(const QString& text, QString* canonical)
{
    QHostAddress address;
    if (!address.setAddress(text) || address.protocol() != QHostAddress::IPv4Protocol)
        return NotIpv4;
    if (canonical)
        *canonical = address.toString();
    if (!isDottedQuad(text))
        return NotIpv4;
    // 0.0.0.0/8 means "this network", 224.0.0.0/4 is multicast, 240.0.0.0/4
    // is reserved and ends in the broadcast: none is one time server.
    const quint32 v4 = address.toIPv4Address();
    if ((v4 >> 24) == 0 || (v4 >> 28) >= 0xE || isBroadcastHere(address))
        return NotOneHost;
    return Usable;
}

bool isThisComputer(const QHostAddress& address)
{
    if (address.isNull())
        return false;
    if (address.isLoopback())
        return true;
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    for (const QHostAddress& mine : own) {
        bool mineOk = false;
        const quint32 mine4 = mine.toIPv4Address(&mineOk);
        if (ok && mineOk ? v4 == mine4 : mine.isEqual(address))
            return true;
    }
    return false;
}

} // namespace AddressCheck
