#include "heardservers.h"

#include <QHostAddress>

#include <algorithm>

bool recordAnswer(HeardServerMap& heard, const DiscoveredServer& answer)
{
    auto it = heard.find(answer.id);
    if (it == heard.end()) {
        if (heard.size() >= kMaxHeardServers)
            return false;
        it = heard.insert(answer.id, HeardServer{});
    }
    HeardServer& entry = it.value();
    if (!entry.addresses.contains(answer.address) && entry.addresses.size() < kMaxAddressesPerServer)
        entry.addresses.append(answer.address);
    entry.latest = answer;
    entry.latest.answered = false;
    entry.latest.onThisComputer = false;
    return true;
}

namespace {

bool isLoopbackText(const QString& address)
{
    QHostAddress parsed;
    return parsed.setAddress(address) && parsed.isLoopback();
}

DiscoveredServer settle(const HeardServer& entry, const QStringList& answeredAddresses)
{
    DiscoveredServer server = entry.latest;
    server.answered = false;
    for (const QString& address : entry.addresses) {
        if (answeredAddresses.contains(address)) {
            server.address = address;
            server.answered = true;
            return server;
        }
    }
    for (const QString& address : entry.addresses) {
        if (!isLoopbackText(address)) {
            server.address = address;
            return server;
        }
    }
    if (!entry.addresses.isEmpty())
        server.address = entry.addresses.first();
    return server;
}

} // namespace

QList<DiscoveredServer> settleHeardServers(const HeardServerMap& heard, const QStringList& answeredAddresses)
{
    QList<DiscoveredServer> servers;
    servers.reserve(heard.size());
    for (const HeardServer& entry : heard)
        servers.append(settle(entry, answeredAddresses));
    sortServersByName(servers);
    return servers;
}

void sortServersByName(QList<DiscoveredServer>& servers)
{
    std::sort(servers.begin(), servers.end(), [](const DiscoveredServer& a, const DiscoveredServer& b) {
        return QString::compare(a.name, b.name, Qt::CaseInsensitive) < 0;
    });
}
