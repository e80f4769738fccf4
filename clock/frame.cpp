#include "frame.h"

QByteArray buildFrame(quint8 type, const QByteArray& body)
{
    if (body.size() > kFrameMaxBody)
        return {};
    QByteArray frame;
    frame.reserve(kFrameHeaderSize + body.size());
    frame.append("TAVR", 4);
    frame.append(char(1));
    frame.append(char(type));
    frame.append(char((body.size() >> 8) & 0xFF));
    frame.append(char(body.size() & 0xFF));
    frame.append(body);
    return frame;
}

std::optional<Frame> parseFrame(const QByteArray& datagram, const QSet<quint8>& acceptedTypes)
{
    if (datagram.size() < kFrameHeaderSize)
        return std::nullopt;
    if (!datagram.startsWith("TAVR"))
        return std::nullopt;
    if (quint8(datagram[4]) != 1)
        return std::nullopt;
    const quint8 type = quint8(datagram[5]);
    if (!acceptedTypes.contains(type))
        return std::nullopt;
    const int length = (int(quint8(datagram[6])) << 8) | int(quint8(datagram[7]));
    if (length > kFrameMaxBody)
        return std::nullopt;
    if (datagram.size() != length + kFrameHeaderSize)
        return std::nullopt;
    return Frame{type, datagram.mid(kFrameHeaderSize, length)};
}
