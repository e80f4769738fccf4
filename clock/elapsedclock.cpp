#include "elapsedclock.h"

#include <chrono>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <time.h>
#endif

qint64 wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch()).count();
}

qint64 elapsedClockNs()
{
#if defined(Q_OS_WIN)
    // QElapsedTimer reads QueryPerformanceCounter here, whose reference says
    // nothing of sleep. GetTickCount64 is documented to include the time the
    // system spends in sleep or hibernation (QueryUnbiasedInterruptTime is
    // documented to leave it out). Its 10-16 ms steps are fine for tests
    // that work in half seconds and more.
    return qint64(GetTickCount64()) * 1000000;
#elif defined(CLOCK_BOOTTIME)
    // CLOCK_MONOTONIC, what QElapsedTimer reads here, stops while the
    // computer sleeps; CLOCK_BOOTTIME goes on.
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
#else
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

qint64 roundedDiv(qint64 n, qint64 d)
{
    const qint64 half = d / 2;
    return n >= 0 ? (n + half) / d : -((-n + half) / d);
}
