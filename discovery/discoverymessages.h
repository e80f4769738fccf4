#pragma once

#include "discoveredserver.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QString>
#include <optional>

constexpr quint16 kDiscoveryPort = 12300;

// A fresh run nonce: 32 random bits in lower-case hex, no leading zeros.
QString newDiscoveryNonce();

// The framed query datagram (type 1) carrying `nonce`.
QByteArray makeDiscoveryQuery(const QString& nonce);

// Address text without the IPv4-mapped "::ffff:" prefix.
QString plainAddressText(const QString& address);
QString plainAddressText(const QHostAddress& address);

// JSON value conversions with a default: a missing key or a value of another
// type yields the default; an integer must be whole and fit in 32 bits.
QString jsonString(const QJsonObject& object, const QString& key, const QString& fallback = {});
int jsonInt(const QJsonObject& object, const QString& key, int fallback = 0);
bool jsonBool(const QJsonObject& object, const QString& key, bool fallback = false);

// Reads one answer datagram (as received, at most 1032 bytes) from
// `senderAddress`. Nothing when it is malformed, foreign, or a type-3 answer
// whose nonce is not `nonce`. The record has answered/onThisComputer false.
std::optional<DiscoveredServer> readDiscoveryAnswer(const QByteArray& datagram, const QString& nonce,
                                                    const QString& senderAddress);
