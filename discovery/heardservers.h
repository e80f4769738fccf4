#pragma once

#include "discoveredserver.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// What one run has heard of one server id.
struct HeardServer {
    DiscoveredServer latest;   // the latest accepted answer wins on every field
    QStringList addresses;     // distinct senders, first heard first, at most 12
};

// Keyed by id, in plain case-sensitive order.
using HeardServerMap = QMap<QString, HeardServer>;

constexpr int kMaxHeardServers = 64;
constexpr int kMaxAddressesPerServer = 12;

// Merges one accepted answer; false when it was dropped (a new id beyond 64).
bool recordAnswer(HeardServerMap& heard, const DiscoveredServer& answer);

// The run's result: one record per id with its address settled (an address
// that answered the probe first, else a non-loopback one, else the first),
// sorted case-insensitively by name.
QList<DiscoveredServer> settleHeardServers(const HeardServerMap& heard, const QStringList& answeredAddresses);

void sortServersByName(QList<DiscoveredServer>& servers);
