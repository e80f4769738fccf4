#include "sntp.h"

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

} // namespace

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
    // Seconds without the top bit belong to the era that starts in 2036.
    const quint64 s = (seconds & 0x80000000U) ? quint64(seconds) : quint64(seconds) + (1ULL << 32);
    const quint64 fracMs = (quint64(fraction) * 1000ULL + (1ULL << 31)) >> 32;
    return qint64(s * 1000ULL + fracMs) - qint64(kNtpToUnixSeconds * 1000ULL);
}

QByteArray makeSntpRequest(qint64 sendMs)
{
    QByteArray request(kSntpPacketSize, '\0');
    request[0] = char(0x23); // leap 0, version 4, mode 3
    const quint64 ts = unixMsToNtp(sendMs);
    writeBe32(request.data() + 40, quint32(ts >> 32));
    writeBe32(request.data() + 44, quint32(ts));
    return request;
}

bool readSntpReply(const QByteArray& reply, qint64 sendMs, qint64 receiveMs, qint64* offsetMs)
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
    const quint64 ts = unixMsToNtp(sendMs);
    char expected[8];
    writeBe32(expected, quint32(ts >> 32));
    writeBe32(expected + 4, quint32(ts));
    if (std::memcmp(reply.constData() + 24, expected, 8) != 0)
        return false;

    const char* d = reply.constData();
    const qint64 t2 = ntpToUnixMs(readBe32(d + 32), readBe32(d + 36));
    const qint64 t3 = ntpToUnixMs(readBe32(d + 40), readBe32(d + 44));
    if (offsetMs)
        *offsetMs = ((t2 + t3) - sendMs - receiveMs) / 2;
    return true;
}

qint64 sntpRoundTripMs(const QByteArray& reply, qint64 sendMs, qint64 receiveMs)
{
    if (reply.size() < kSntpPacketSize)
        return 0;
    const char* d = reply.constData();
    const qint64 t2 = ntpToUnixMs(readBe32(d + 32), readBe32(d + 36));
    const qint64 t3 = ntpToUnixMs(readBe32(d + 40), readBe32(d + 44));
    // Whole milliseconds on both sides can make a sub-millisecond round trip read -1.
    return qMax<qint64>(0, (receiveMs - sendMs) - (t3 - t2));
}
