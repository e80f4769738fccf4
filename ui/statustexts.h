#pragma once

#include "clockstate.h"
#include "instchip.h"

#include <QDateTime>
#include <QString>

class QLabel;

// What the main window's status panel says about a clock reading, kept apart
// from the widgets so every border case can be checked directly.
namespace StatusTexts {

struct Line {
    QString text;            // main part, " - ", detail
    InstChip::Kind mainKind;
    InstChip::Kind detailKind;
    QString subLine;         // second half of the date line
};

struct Value {
    QString value;
    QString unit;
    bool placeholder = false; // shown as dimmed digits
    const char* tone = nullptr;
};

// The state as the windows name it: with no server set there is nothing to
// hear, so a stored last sync alone does not make the server "not heard".
ClockState shownState(ClockState state, const QString& host);

// `host` is the configured server, `label` its name or else its host.
Line statusLine(ClockState state, const ClockReading& reading, const QString& host,
                const QString& label);
QString dateLine(const QDateTime& now, const QString& subLine);
Value offset(const ClockReading& reading);
Value lastSync(const QDateTime& now, qint64 lastSyncUtcMs);
Value serverHeard(qint64 msSinceHeard, qint64 lastSyncUtcMs);
Value reported(bool reporting, bool isReported, const QString& host);

// Servers are named by whoever runs them: a long name is cut in the middle so
// that no name, spaces or none, widens a window.
QString shownName(const QString& name);
// `text` with its %1 filled by the shown name; the whole name stays in the
// label's tooltip and accessible name.
void setNamingText(QLabel* label, const QString& text, const QString& name);

} // namespace StatusTexts
