// libFuzzer entry for every datagram reader. The first input byte picks the
// reader; the rest is the datagram, cut where the receivers cut it. Nothing
// may crash, and what is accepted must really be valid.

#include "discoverymessages.h"
#include "frame.h"
#include "statusreport.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray datagram(reinterpret_cast<const char*>(data + 1), int(qMin<size_t>(size - 1, kFrameReadSize)));
    const auto frame = parseFrame(datagram, {quint8(data[0] % 6)});
    if (frame && buildFrame(frame->type, frame->body) != datagram)
        std::abort();
    const QString id = QStringLiteral("3f1c2a9e-55d0-4b7e-9a61-0c2d4e6f8a10");
    if (isStatusReportAnswerFor(datagram, QString()) || isStatusReportAnswerFor(datagram, id.toUpper()))
        std::abort();
    const auto server = readDiscoveryAnswer(datagram, QStringLiteral("9f3a11c2"), QStringLiteral("::ffff:198.18.0.7"));
    if (server && (server->address != QLatin1String("198.18.0.7") || !parseFrame(datagram, {2, 3})))
        std::abort();
    return 0;
}
