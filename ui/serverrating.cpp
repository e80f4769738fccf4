#include "serverrating.h"

namespace ServerRating {

bool ready(const DiscoveredServer& server)
{
    return server.synced && server.accepting && server.answered;
}

bool inUse(const DiscoveredServer& server, const QString& currentServer)
{
    return !currentServer.isEmpty() && server.address == currentServer;
}

bool blockedHere(const DiscoveredServer& server)
{
    return server.onThisComputer && !server.steady;
}

bool eligible(const DiscoveredServer& server, const QString& currentServer)
{
    return server.synced && server.accepting && !blockedHere(server)
        && !inUse(server, currentServer);
}

Status status(const DiscoveredServer& server, const QString& currentServer)
{
    const bool used = inUse(server, currentServer);
    if (blockedHere(server) && !used)
        return {QStringLiteral("THIS COMPUTER"), InstChip::Sec};
    if (used)
        return {QStringLiteral("IN USE"), InstChip::Info};
    if (ready(server))
        return {QStringLiteral("READY"), InstChip::Go};
    if (!server.accepting)
        return {QStringLiteral("NOT ACCEPTING"), InstChip::Sec};
    if (!server.synced)
        return {QStringLiteral("NOT SYNCED YET"), InstChip::Sec};
    return {QStringLiteral("NOT ANSWERING"), InstChip::Sec};
}

QString spokenWord(const QString& word)
{
    return word.left(1) + word.mid(1).toLower();
}

} // namespace ServerRating
