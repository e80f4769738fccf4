// What the clock record costs: the time to record one entry (into an empty
// record and into a full day, where every entry also ages one out), the
// memory a full day holds, and writing and reading its file.

#include "clockhistory.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kDay = 8640;   // probes at one per 10 s

// Nanoseconds per entry for `count` replies recorded 10 s apart from `fromMs`.
double recordNs(ClockHistory& record, qint64 fromMs, int count)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < count; ++i)
        record.recordReply(fromMs + i * 10000LL, i % 7 - 3, 1 + i % 3, ClockState::Sync);
    return double(t.nsecsElapsed()) / count;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("clock-history"));
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 2LL * kDay * 10000;

    std::printf("%-52s %10s\n", "", "figure");
    double saveMs = 0;
    {
        ClockHistory record(path);
        const double firstDay = recordNs(record, start, kDay);
        const double secondDay = recordNs(record, start + kDay * 10000LL, kDay);   // each one ages one out
        std::printf("%-52s %8.2f us\n", "record one reply, filling the first day", firstDay / 1000);
        std::printf("%-52s %8.2f us\n", "record one reply into a full day", secondDay / 1000);
        const qsizetype bytes = record.samples().capacity() * qsizetype(sizeof(ClockSample));
        std::printf("%-52s %8.1f KiB (%lld entries, %zu bytes each)\n", "memory of a full day (capacity held)",
                    double(bytes) / 1024, static_cast<long long>(record.samples().size()), sizeof(ClockSample));
        ClockHistory flapping;
        for (int i = 0; i < 86400; ++i)   // a state change every second for a day
            flapping.recordStateChange(start + i * 1000LL, ClockState(i % 2));
        std::printf("%-52s %8.1f KiB (%lld entries, the cap)\n", "memory when the state flaps every second",
                    double(flapping.samples().capacity() * qsizetype(sizeof(ClockSample))) / 1024,
                    static_cast<long long>(flapping.samples().size()));
        record.recordMissed(start + 2LL * kDay * 10000, ClockState::Lost);
        QElapsedTimer t;
        t.start();
        record.save();
        saveMs = double(t.nsecsElapsed()) / 1e6;
    }
    std::printf("%-52s %8.2f ms (%lld KiB file)\n", "write a full day (at most once a minute)", saveMs,
                static_cast<long long>(QFileInfo(path).size() / 1024));
    QElapsedTimer t;
    t.start();
    ClockHistory loaded(path);
    std::printf("%-52s %8.2f ms (%lld entries)\n", "read a full day at start", double(t.nsecsElapsed()) / 1e6,
                static_cast<long long>(loaded.samples().size()));
    return 0;
}
