// libFuzzer entry for the frame check and the report-answer check. The first
// input byte picks the reader; the rest is the datagram. Any datagram must be
// read or dropped, never crash, and what is accepted must really be valid.

#include "frame.h"
#include "statusreport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QByteArray datagramFrom(const uint8_t* data, size_t size)
{
    // Receivers read at most one full frame of a datagram.
    const int length = int(size > size_t(kFrameMaxSize) ? size_t(kFrameMaxSize) : size);
    return QByteArray(reinterpret_cast<const char*>(data), length);
}

void checkFrame(quint8 typeMask, const QByteArray& datagram)
{
    QSet<quint8> accepted;
    for (quint8 type = 1; type <= 8; ++type)
        if (typeMask & (1u << (type - 1)))
            accepted.insert(type);
    const auto frame = parseFrame(datagram, accepted);
    if (!frame)
        return;
    if (!accepted.contains(frame->type) || frame->body.size() > kFrameMaxBody)
        std::abort();
    // An accepted datagram is exactly the frame built from its parts.
    if (buildFrame(frame->type, frame->body) != datagram)
        std::abort();
}

void checkReportAnswer(const QByteArray& datagram)
{
    static const QString clientId = QStringLiteral("3f1c2a9e-55d0-4b7e-9a61-0c2d4e6f8a10");
    if (isStatusReportAnswerFor(datagram, QString()))
        std::abort();
    if (!isStatusReportAnswerFor(datagram, clientId))
        return;
    const auto frame = parseFrame(datagram, {StatusReportAnswer});
    if (!frame)
        std::abort();
    if (QJsonDocument::fromJson(frame->body).object().value(QStringLiteral("id")).toString() != clientId)
        std::abort();
    // Letter case matters.
    if (isStatusReportAnswerFor(datagram, clientId.toUpper()))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    if (data[0] & 1)
        checkReportAnswer(datagramFrom(data + 1, size - 1));
    else
        checkFrame(data[1], datagramFrom(data + 2, size - 2));
    return 0;
}
