// What the clock record costs: the time to record one entry (into an empty
// record and into a full day, where every entry also ages one out), the
// memory a full day holds, writing and reading its file, and what a day of
// watching writes to the disk: bytes and syncs, counted by the kernel and by
// catching the sync calls on their way to the C library.

#include "clockhistory.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#ifdef Q_OS_LINUX
#include <dlfcn.h>

namespace {
int g_syncs = 0;
template <typename F>
int forward(const char* name, int fd)
{
    ++g_syncs;
    static const auto real = reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
    return real ? real(fd) : 0;
}
} // namespace

// Defined here, these take the calls Qt makes into the C library.
extern "C" int fsync(int fd) { return forward<int (*)(int)>("fsync", fd); }
extern "C" int fdatasync(int fd) { return forward<int (*)(int)>("fdatasync", fd); }

// Bytes this process has handed to write calls so far.
static long long bytesWritten()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}
#endif

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
        // The timeline rests on the newest entry, as after a reply long ago.
        record.setClocks([start] { return start; }, [] { return qint64(0); });
        record.setTrueTime(start, 0);
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
    std::printf("%-52s %8.2f ms (%lld KiB file)\n", "save a full day (GUI thread's part)", saveMs,
                static_cast<long long>(QFileInfo(path).size() / 1024));
    QElapsedTimer t;
    t.start();
    {
        ClockHistory loaded(path);
        std::printf("%-52s %8.2f ms (%lld entries)\n", "read a full day at start", double(t.nsecsElapsed()) / 1e6,
                    static_cast<long long>(loaded.samples().size()));
    }
#ifdef Q_OS_LINUX
    // Three days of watching on top of a full day: a reply every 10 s, the
    // minute's save as the save timer would run it, then the exit; the
    // figures are per day.
    constexpr int kDays = 3;
    const long long bytesBefore = bytesWritten();
    const int syncsBefore = g_syncs;
    QElapsedTimer dayTimer;
    dayTimer.start();
    double longestSaveMs = 0;
    {
        ClockHistory record(path);
        record.setClocks([start] { return start; }, [] { return qint64(0); });
        record.setTrueTime(start, 0);
        const qint64 from = start + 2LL * kDay * 10000 + 10000;
        for (int i = 0; i < kDays * kDay; ++i) {
            record.recordReply(from + i * 10000LL, i % 7 - 3, 1 + i % 3, ClockState::Sync);
            if (i % 6 == 5) {
                QElapsedTimer one;
                one.start();
                record.save();
                longestSaveMs = std::max(longestSaveMs, double(one.nsecsElapsed()) / 1e6);
            }
        }
    }
    std::printf("%-52s %8.2f MB, %.1f syncs (%.1f s of saving, longest save on the GUI thread %.2f ms)\n",
                "a day of watching writes", double(bytesWritten() - bytesBefore) / 1e6 / kDays,
                double(g_syncs - syncsBefore) / kDays, double(dayTimer.nsecsElapsed()) / 1e9 / kDays, longestSaveMs);
#endif
    return 0;
}
