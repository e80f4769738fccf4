#include "sntp.h"

#include "elapsedclock.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr quint64 kNtpToUnixSeconds = 2208988800ULL;

quint32 readBe32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return (quint32(u[0]) << 24) | (quint32(u[1]) << 16) | (quint32(u[2]) << 8) | quint32(u[3]);
}

void writeBe32(char* p, quint32 v)
{
    p[0] = char(v >> 24);
    p[1] = char(v >> 16);
    p[2] = char(v >> 8);
    p[3] = char(v);
}

QByteArray requestWith(quint64 ts)
{
    QByteArray request(kSntpPacketSize, '\0');
    request[0] = char(0x23); // leap 0, version 4, mode 3
    writeBe32(request.data() + 40, quint32(ts >> 32));
    writeBe32(request.data() + 44, quint32(ts));
    return request;
}

// A server's reply, answering the request whose transmit timestamp was `origin`.
bool validReply(const QByteArray& reply, quint64 origin)
{
    if (reply.size() < kSntpPacketSize)
        return false;
    const auto first = quint8(reply[0]);
    if ((first & 7) != 4)
        return false;
    if ((first >> 6) == 3)
        return false;
    if (quint8(reply[1]) == 0)
        return false;
    // The origin must echo our transmit timestamp byte for byte.
    char expected[8];
    writeBe32(expected, quint32(origin >> 32));
    writeBe32(expected + 4, quint32(origin));
    return std::memcmp(reply.constData() + 24, expected, 8) == 0;
}

// Seconds without the top bit belong to the era that starts in 2036.
quint64 eraSeconds(quint32 seconds)
{
    return (seconds & 0x80000000U) ? quint64(seconds) : quint64(seconds) + (1ULL << 32);
}

} // namespace

quint64 unixNsToNtp(qint64 unixNs)
{
    const qint64 wholeSeconds = unixNs / 1000000000;
    const qint64 nsPart = unixNs % 1000000000;
    const quint32 seconds = quint32(quint64(wholeSeconds + qint64(kNtpToUnixSeconds)) & 0xFFFFFFFFULL);
    const quint32 fraction = quint32((quint64(nsPart) << 32) / 1000000000ULL);
    return (quint64(seconds) << 32) | fraction;
}

qint64 ntpToUnixNs(quint32 seconds, quint32 fraction)
{
    const quint64 fracNs = (quint64(fraction) * 1000000000ULL + (1ULL << 31)) >> 32;
    return qint64(eraSeconds(seconds) * 1000000000ULL + fracNs) - qint64(kNtpToUnixSeconds * 1000000000ULL);
}

QByteArray makeSntpRequestNs(qint64 sendNs)
{
    return requestWith(unixNsToNtp(sendNs));
}

bool readSntpReplyNs(const QByteArray& reply, qint64 sendNs, qint64 receiveNs, SntpMeasurement* measurement)
{
    if (!validReply(reply, unixNsToNtp(sendNs)))
        return false;
    if (measurement) {
        const char* d = reply.constData();
        const qint64 t2 = ntpToUnixNs(readBe32(d + 32), readBe32(d + 36));
        const qint64 t3 = ntpToUnixNs(readBe32(d + 40), readBe32(d + 44));
        // Differences first, in nanoseconds; halved and rounded once, at the end.
        measurement->offsetUs = roundedDiv((t2 - sendNs) + (t3 - receiveNs), 2000);
        measurement->delayUs = std::max<qint64>(0, roundedDiv((receiveNs - sendNs) - (t3 - t2), 1000));
    }
    return true;
}

quint64 unixMsToNtp(qint64 unixMs)
{
    const qint64 wholeSeconds = unixMs / 1000; // truncates toward zero
    const qint64 msPart = unixMs % 1000;
    const quint32 seconds = quint32(quint64(wholeSeconds + qint64(kNtpToUnixSeconds)) & 0xFFFFFFFFULL);
    const quint32 fraction = quint32((quint64(msPart) << 32) / 1000ULL);
    return (quint64(seconds) << 32) | fraction;
}

qint64 ntpToUnixMs(quint32 seconds, quint32 fraction)
{
    const quint64 s = eraSeconds(seconds);
    const quint64 fracMs = (quint64(fraction) * 1000ULL + (1ULL << 31)) >> 32;
    return qint64(s * 1000ULL + fracMs) - qint64(kNtpToUnixSeconds * 1000ULL);
}

QByteArray makeSntpRequest(qint64 sendMs)
{
    return requestWith(unixMsToNtp(sendMs));
}

bool readSntpReply(const QByteArray& reply, qint64 sendMs, qint64 receiveMs, qint64* offsetMs)
{
    if (!validReply(reply, unixMsToNtp(sendMs)))
        return false;
    const char* d = reply.constData();
    const qint64 t2 = ntpToUnixMs(readBe32(d + 32), readBe32(d + 36));
    const qint64 t3 = ntpToUnixMs(readBe32(d + 40), readBe32(d + 44));
    if (offsetMs)
        *offsetMs = ((t2 + t3) - sendMs - receiveMs) / 2;
    return true;
}
