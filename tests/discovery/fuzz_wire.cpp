// libFuzzer entry for every datagram reader. The first input byte picks the
// reader (and the frame check's accepted types); the rest is the datagram,
// cut where the receivers cut it. Nothing may crash, and what is accepted
// must really be valid.

#include "discoverymessages.h"
#include "frame.h"
#include "statusreport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray datagram(reinterpret_cast<const char*>(data + 1), int(qMin<size_t>(size - 1, kFrameReadSize)));
    static const QString id = QStringLiteral("3f1c2a9e-55d0-4b7e-9a61-0c2d4e6f8a10");
    switch (data[0] % 3) {
    case 0: {
        QSet<quint8> accepted;
        for (quint8 type = 0; type < 5; ++type)
            if (data[0] & (8u << type))
                accepted.insert(type);
        const auto frame = parseFrame(datagram, accepted);
        if (frame && (!accepted.contains(frame->type) || buildFrame(frame->type, frame->body) != datagram))
            std::abort();
        break;
    }
    case 1:
        if (isStatusReportAnswerFor(datagram, QString()) || isStatusReportAnswerFor(datagram, id.toUpper()))
            std::abort();
        if (isStatusReportAnswerFor(datagram, id)
            && QJsonDocument::fromJson(parseFrame(datagram, {5})->body).object().value("id").toString() != id)
            std::abort();
        break;
    default: {
        const auto server = readDiscoveryAnswer(datagram, QStringLiteral("9f3a11c2"), QStringLiteral("::ffff:198.18.0.7"));
        if (server && (server->address != QLatin1String("198.18.0.7") || datagram.size() > kFrameMaxSize))
            std::abort();
    }
    }
    return 0;
}
