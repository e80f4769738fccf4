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

// The same exchange timed to the nanosecond, as the watcher measures it.
// The request carries `sendNs` at full precision; the figures are rounded to
// the nearest microsecond only at the end, so a LAN's sub-millisecond round
// trip adds no bias.
struct SntpMeasurement {
    qint64 offsetUs = 0;   // positive: the local clock is behind the server
    qint64 delayUs = 0;    // round trip less the server's own time, never below 0
};
QByteArray makeSntpRequestNs(qint64 sendNs);
bool readSntpReplyNs(const QByteArray& reply, qint64 sendNs, qint64 receiveNs, SntpMeasurement* measurement);

// NTP 64-bit timestamp helpers, also used by the test time server.
quint64 unixMsToNtp(qint64 unixMs);
qint64 ntpToUnixMs(quint32 seconds, quint32 fraction);
quint64 unixNsToNtp(qint64 unixNs);
qint64 ntpToUnixNs(quint32 seconds, quint32 fraction);
