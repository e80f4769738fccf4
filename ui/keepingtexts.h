#pragma once

#include "clockkeeping.h"
#include "timeservice.h"

#include <QString>

// Whether the operating system really keeps the clock, and what the window
// and the tray say about it. Kept apart from the widgets so each rule can be
// checked on its own.
namespace KeepingTexts {

struct Inputs {
    QString setUpServer;           // address in the set-up record; empty: not set up
    QString label;                 // the server as the windows name it
    TimeServiceStatus service;
    ClockKeeping::Held held;
    qint64 driftUs = 0;            // ClockKeeping::uncorrectedDriftUs
    qint64 nowMs = 0;
    // Since when the program has watched without a break (its start, or the
    // wake from a sleep): the time service is not blamed for time before it.
    qint64 watchedSinceMs = 0;
};

struct Keeping {
    QString held;     // "Held within ±3 ms of Atlas over the last hour"
    QString service;  // "The time service last synced with 192.0.2.10 4 min ago"
    QString problem;  // short, for the status line: "Follows 127.0.0.3"
    QString warning;  // what is wrong and what to do; empty while the clock is kept
};

Keeping keeping(const Inputs& in);

// "0.4 ms", "3 ms", "1.25 s", then whole durations.
QString formatOffset(qint64 us);

} // namespace KeepingTexts
