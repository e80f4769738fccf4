// libFuzzer entry: any datagram must be read or dropped, never crash, and an
// accepted one must carry the sender's address.

#include "discoverymessages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The client reads at most one full frame of a datagram.
    const int length = int(size > 1032 ? 1032 : size);
    const QByteArray datagram(reinterpret_cast<const char*>(data), length);
    static const QString nonce = QStringLiteral("9f3a11c2");
    const auto server = readDiscoveryAnswer(datagram, nonce, QStringLiteral("::ffff:198.18.0.7"));
    if (server && server->address != QLatin1String("198.18.0.7"))
        std::abort();
    return 0;
}
