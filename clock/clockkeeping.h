#pragma once

#include "clockhistory.h"

#include <QVector>

// How well the operating system has kept the clock, judged from the
// watcher's own record alone. Pure functions, so that recorded days can be
// replayed against them.
namespace ClockKeeping {

constexpr qint64 kHourMs = 60LL * 60 * 1000;
constexpr qint64 kDayMs = 24 * kHourMs;
// Growth of the offset over an hour that no working time service leaves alone.
constexpr qint64 kDriftLimitUs = 100000;

struct Held {
    bool known = false;       // enough replies in the span to say anything
    qint64 largestUs = 0;     // largest absolute offset among them
    qint64 spanMs = kHourMs;  // the last hour, or the last day once the record holds one
};

// The largest offset seen while the server was heard, over the last hour, or
// over the last day once the record reaches back that far.
Held heldWithin(const QVector<ClockSample>& samples, qint64 nowMs);

// How far the offset has grown over the last hour, in microseconds (signed
// like the offset), when the server was heard all through it and nothing
// corrected the clock; 0 whenever that cannot be said for sure: a gap in the
// replies (a sleep, a restart, a server not heard), a clock jump, or any step
// back of the offset that a correction leaves.
qint64 uncorrectedDriftUs(const QVector<ClockSample>& samples, qint64 nowMs);

} // namespace ClockKeeping
