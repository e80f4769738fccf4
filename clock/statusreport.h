#pragma once

#include "clockstate.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

// What one status report says about this computer's clock.
struct StatusReportFields {
    QString clientId;
    bool bye = false;
    QString hostName;      // as the system reports it; ".local" is dropped here
    QString osName;
    QString version;
    ClockState state = ClockState::None;
    ClockReading reading;  // heard, offset, last sync and time of the report
    QHostAddress server;   // null when unknown
};

// The host name as reported: a final ".local" (exact case) removed.
QString reportedHostName(const QString& hostName);

// Compact JSON body of a type-4 report.
QByteArray statusReportBody(const StatusReportFields& fields);

// True when `datagram` (as received, at most one full frame) is a type-5
// answer whose "id" equals `clientId` exactly; an empty id matches nothing.
bool isStatusReportAnswerFor(const QByteArray& datagram, const QString& clientId);
