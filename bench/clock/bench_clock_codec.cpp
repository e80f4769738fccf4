// Rates of the SNTP request build / reply check and of frame build / parse.

#include "frame.h"
#include "sntp.h"

#include <QElapsedTimer>

#include <cstdio>

namespace {

template <typename F>
void rate(const char* what, int count, F&& body)
{
    QElapsedTimer timer;
    timer.start();
    qint64 sink = 0;
    for (int i = 0; i < count; ++i)
        sink += body(i);
    const double ns = double(timer.nsecsElapsed());
    std::printf("%-34s %10.0f per second  %8.1f ns each  (check %lld)\n", what, count / (ns / 1e9), ns / count,
                static_cast<long long>(sink));
}

QByteArray replyFor(qint64 sendMs)
{
    QByteArray r(48, '\0');
    r[0] = char(0x24);
    r[1] = char(2);
    const QByteArray request = makeSntpRequest(sendMs);
    r.replace(24, 8, request.mid(40, 8));
    r.replace(32, 8, request.mid(40, 8));
    r.replace(40, 8, request.mid(40, 8));
    return r;
}

} // namespace

int main()
{
    constexpr int n = 1000000;
    const qint64 base = 1700000000000;

    rate("makeSntpRequest", n, [&](int i) { return makeSntpRequest(base + i).size(); });

    const QByteArray reply = replyFor(base);
    rate("readSntpReply (valid)", n, [&](int i) {
        qint64 offset = 0;
        return readSntpReply(reply, base, base + (i & 7), &offset) ? offset + 1 : 0;
    });
    rate("readSntpReply (stale origin)", n,
         [&](int i) { return readSntpReply(reply, base + 1 + (i & 7), base, nullptr) ? 1 : 0; });

    const QByteArray small = R"({"id":"3037e469-683d-4838-968c-2306b48938b0","state":"sync","t":1700000000000})";
    const QByteArray large(1024, 'x');
    rate("buildFrame (80-byte body)", n, [&](int) { return buildFrame(StatusReport, small).size(); });
    rate("buildFrame (1024-byte body)", n, [&](int) { return buildFrame(StatusReport, large).size(); });

    const QByteArray smallFrame = buildFrame(StatusReportAnswer, small);
    const QByteArray largeFrame = buildFrame(StatusReportAnswer, large);
    const QSet<quint8> accepted{StatusReportAnswer};
    rate("parseFrame (80-byte body)", n, [&](int) { return parseFrame(smallFrame, accepted)->body.size(); });
    rate("parseFrame (1024-byte body)", n, [&](int) { return parseFrame(largeFrame, accepted)->body.size(); });
    QByteArray broken = smallFrame;
    broken[4] = 2;
    rate("parseFrame (dropped)", n, [&](int) { return parseFrame(broken, accepted) ? 1 : 0; });
    return 0;
}
