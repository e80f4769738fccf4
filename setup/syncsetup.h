#pragma once

#include <QString>

class QSettings;

// The operating system's time set-up as the setup script recorded it.
// An empty server means this computer is not set up.
struct SyncSetup {
    QString server;
    bool hasPrevious = false; // removal restores the settings kept at install
};

// Reads the record afresh on every call: the machine-wide registry key on
// Windows (64-bit view), the INI record at setupRecordPath() elsewhere.
// A missing or unreadable record reads as "not set up"; nothing is reported.
SyncSetup readSyncSetup();

// The readback rules applied to an already opened record.
SyncSetup readSyncSetupFrom(const QSettings& record);
