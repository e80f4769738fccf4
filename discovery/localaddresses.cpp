#include "localaddresses.h"

#include <QAbstractSocket>
#include <QNetworkInterface>

QStringList localIPv4Addresses()
{
    QStringList result;
    const QList<QHostAddress> all = QNetworkInterface::allAddresses();
    for (const QHostAddress& address : all) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            result.append(address.toString());
    }
    return result;
}

QList<QHostAddress> interfaceBroadcastAddresses()
{
    QList<QHostAddress> result;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            if (!entry.broadcast().isNull() && entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                result.append(entry.broadcast());
        }
    }
    return result;
}
