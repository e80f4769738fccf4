#pragma once

#include <QColor>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One word for how the local clock is doing, condensed from the last probe.
enum class ClockState : int {
    None = 0,   // no server heard and never synced
    Sync = 1,   // server heard, offset within 500 ms
    Lost = 2,   // server not heard, but synced at some time
    Off = 3,    // server heard, offset beyond 500 ms
    Wrong = 4,  // clock reads more than 2 s earlier than the last sync
};
Q_DECLARE_METATYPE(ClockState)

struct ClockReading {
    qint64 nowMs = 0;
    bool heard = false;
    qint64 offsetMs = 0;
    qint64 lastSyncUtcMs = 0;
};

constexpr qint64 kSyncToleranceMs = 500;
constexpr qint64 kWentBackToleranceMs = 2000;
constexpr qint64 kHeardWindowMs = 25000;

ClockState classifyReading(const ClockReading& reading);
bool serverTimeWentBack(const ClockReading& reading);

// Lamp colour shared by the tray and the main window; unknown values read as None.
QColor stateColor(ClockState state);
// "none", "sync", "lost", "off", "wrong" as sent in status reports.
QString stateReportWord(ClockState state);
// "No server", "In sync", ... as the tray names the states.
QString stateTrayWord(ClockState state);

void registerClockStateMetaType();
