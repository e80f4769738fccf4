#pragma once

// Fills a clock record with a day such as a desk computer on a LAN sees: a
// few milliseconds of wander, sub-millisecond delays with spikes, two spells
// without the server, a restart and the clock set by hand once. For the
// history window's demo and bench.

#include "clockhistory.h"

#include <QRandomGenerator>

#include <cmath>

namespace PlausibleDay {

inline void fill(ClockHistory& history, qint64 endUtcMs)
{
    constexpr qint64 probeMs = 10000;
    constexpr qint64 hourMs = 3600000;
    const qint64 start = endUtcMs - 24 * hourMs + probeMs;
    QRandomGenerator random(23);
    ClockState state = ClockState::Sync;
    auto setState = [&](qint64 at, ClockState next) {
        if (next != state)
            history.recordStateChange(at, next);
        state = next;
    };
    history.recordStateChange(start - 1, state);
    int missedRun = 0;
    qint64 setBy = 0;        // a clock set by hand, until the next sync puts it right
    qint64 jumpAt = endUtcMs - 9 * hourMs;
    for (qint64 t = start; t <= endUtcMs; t += probeMs) {
        const qint64 ago = endUtcMs - t;
        const bool serverAway = (ago > 18 * hourMs && ago < 18 * hourMs + 4 * 60000)
            || (ago > 38 * 60000 && ago < 41 * 60000);
        if (serverAway) {
            // Not heard for 25 s: the state turns to lost.
            if (++missedRun >= 3)
                setState(t, ClockState::Lost);
            history.recordMissed(t - probeMs, state);   // the probe before went unanswered
            continue;
        }
        if (ago > 5 * hourMs && ago - probeMs <= 5 * hourMs) {
            history.recordStart(t - 3000, state);   // the program restarted
            continue;
        }
        missedRun = 0;
        if (jumpAt != 0 && t >= jumpAt) {
            setBy = 1500000;
            history.recordClockJump(t - 4000, setBy, state);
            jumpAt = 0;
        }
        const double hours = double(t - start) / double(hourMs);
        const double wander = 2.2 * std::sin(hours / 3.1) + 0.8 * std::sin(hours * 1.7);
        const double noise = (random.generateDouble() - 0.5) * 0.9;
        const qint64 offset = qint64(std::lround((wander + noise) * 1000.0)) - setBy;
        qint32 delay = 180 + qint32(random.bounded(260));
        if (random.bounded(200) == 0)
            delay += 15000 + qint32(random.bounded(25000));
        setState(t, std::llabs(offset) > 500000 ? ClockState::Off : ClockState::Sync);
        history.recordReply(t, offset, delay, state);
        if (setBy != 0 && t > endUtcMs - 9 * hourMs + 60000) {
            history.recordClockJump(t + 2000, -setBy, state); // the next sync set it right
            setBy = 0;
        }
    }
}

} // namespace PlausibleDay
