#pragma once

#include <QHostAddress>
#include <QList>
#include <QStringList>

// This computer's own IPv4 addresses, loopback excluded, as text.
QStringList localIPv4Addresses();

// The broadcast address of every IPv4 address entry of every interface that
// is up and not loopback, in system order, repeats kept.
QList<QHostAddress> interfaceBroadcastAddresses();
