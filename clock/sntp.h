#pragma once

#include <QByteArray>
#include <QtGlobal>

// SNTP client side: builds a request from the local send time and checks a
// reply against it. No sockets, no clocks: the caller supplies both times in
// Unix milliseconds and always talks to UDP port 123.

constexpr quint16 kSntpPort = 123;
constexpr int kSntpPacketSize = 48;

QByteArray makeSntpRequest(qint64 sendMs);

// True when `reply` answers the request made at `sendMs`; the clock offset
// (positive: local clock behind the server) goes to *offsetMs when given.
bool readSntpReply(const QByteArray& reply, qint64 sendMs, qint64 receiveMs, qint64* offsetMs);

// Round-trip delay of a reply that readSntpReply found valid:
// (receiveMs - sendMs) - (server transmit - server receive), never below 0.
qint64 sntpRoundTripMs(const QByteArray& reply, qint64 sendMs, qint64 receiveMs);

// NTP 64-bit timestamp helpers, also used by the test time server.
quint64 unixMsToNtp(qint64 unixMs);
qint64 ntpToUnixMs(quint32 seconds, quint32 fraction);
