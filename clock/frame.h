#pragma once

#include <QByteArray>
#include <QSet>
#include <optional>

// The frame of every non-SNTP datagram: "TAVR", version 1, type,
// big-endian body length, JSON body of at most 1024 bytes.

constexpr quint16 kTavrPort = 12300;
constexpr int kFrameHeaderSize = 8;
constexpr int kFrameMaxBody = 1024;
constexpr int kFrameMaxSize = kFrameHeaderSize + kFrameMaxBody;
// Receivers read one byte more than a frame can hold, so that a longer
// datagram shows as too long instead of being cut to a valid frame.
constexpr int kFrameReadSize = kFrameMaxSize + 1;

enum FrameType : quint8 {
    DiscoveryQuery = 1,
    DiscoveryAnswer = 2,        // taken without a nonce check
    DiscoveryAnswerNonce = 3,   // echoes the query's nonce
    StatusReport = 4,
    StatusReportAnswer = 5,     // echoes the client's id
};

struct Frame {
    quint8 type = 0;
    QByteArray body;
};

// Empty when the body is over the limit; send nothing then.
QByteArray buildFrame(quint8 type, const QByteArray& body);

std::optional<Frame> parseFrame(const QByteArray& datagram, const QSet<quint8>& acceptedTypes);
