#include "clockstate.h"

#include <cstdlib>

namespace {

bool knownState(ClockState state)
{
    const int v = int(state);
    return v >= int(ClockState::None) && v <= int(ClockState::Wrong);
}

bool behindLastSync(const ClockReading& r)
{
    return r.lastSyncUtcMs > 0 && r.nowMs + kWentBackToleranceMs < r.lastSyncUtcMs;
}

bool withinTolerance(qint64 offsetMs)
{
    return offsetMs >= -kSyncToleranceMs && offsetMs <= kSyncToleranceMs;
}

} // namespace

ClockState classifyReading(const ClockReading& r)
{
    if (behindLastSync(r))
        return ClockState::Wrong;
    if (r.heard)
        return withinTolerance(r.offsetMs) ? ClockState::Sync : ClockState::Off;
    return r.lastSyncUtcMs > 0 ? ClockState::Lost : ClockState::None;
}

bool serverTimeWentBack(const ClockReading& r)
{
    return behindLastSync(r) && r.heard && withinTolerance(r.offsetMs);
}

QColor stateColor(ClockState state)
{
    switch (knownState(state) ? state : ClockState::None) {
    case ClockState::Sync:
        return QColor(56, 224, 122);
    case ClockState::Lost:
    case ClockState::Off:
        return QColor(255, 159, 10);
    case ClockState::None:
    case ClockState::Wrong:
        break;
    }
    return QColor(255, 69, 58);
}

QString stateReportWord(ClockState state)
{
    switch (knownState(state) ? state : ClockState::None) {
    case ClockState::Sync:
        return QStringLiteral("sync");
    case ClockState::Lost:
        return QStringLiteral("lost");
    case ClockState::Off:
        return QStringLiteral("off");
    case ClockState::Wrong:
        return QStringLiteral("wrong");
    case ClockState::None:
        break;
    }
    return QStringLiteral("none");
}

QString stateTrayWord(ClockState state)
{
    switch (knownState(state) ? state : ClockState::None) {
    case ClockState::Sync:
        return QStringLiteral("In sync");
    case ClockState::Lost:
        return QStringLiteral("Server not heard");
    case ClockState::Off:
        return QStringLiteral("Clock is off");
    case ClockState::Wrong:
        return QStringLiteral("Clock wrong");
    case ClockState::None:
        break;
    }
    return QStringLiteral("No server");
}

void registerClockStateMetaType()
{
    qRegisterMetaType<ClockState>("ClockState");
}
