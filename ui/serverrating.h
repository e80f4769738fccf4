#pragma once

#include "discoveredserver.h"
#include "instchip.h"

#include <QString>

// How the server list judges one discovered server against the address this
// computer is already set up with.
namespace ServerRating {

// Answers discovery as synced and accepting, and answered the time probe.
bool ready(const DiscoveredServer& server);
// The server this computer is already set up with.
bool inUse(const DiscoveredServer& server, const QString& currentServer);
// Runs on this computer in a version that cannot be followed from here.
bool blockedHere(const DiscoveredServer& server);
// May be chosen for a set-up (the set-up flow probes it itself).
bool eligible(const DiscoveredServer& server, const QString& currentServer);

struct Status {
    QString word;
    InstChip::Kind kind;
};
Status status(const DiscoveredServer& server, const QString& currentServer);
// The status word as a screen reader should say it ("IN USE" as "In use").
QString spokenWord(const QString& word);

} // namespace ServerRating
