#pragma once

#include "clockhistory.h"

#include <QString>
#include <QVector>

// The probes of a stretch of the record as CSV: a header line, then one row a
// probe with its UTC time in ISO 8601, offset and delay in ms (empty for a
// missed probe) and the state in force after it.
QString historyCsv(const QVector<ClockSample>& samples);
