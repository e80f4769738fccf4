#pragma once

#include "clockhistory.h"

#include <QString>
#include <QVector>

// The figures of one stretch of the clock's record, as the history window
// shows and speaks them.
struct HistoryFigures {
    int probes = 0;      // replies and missed probes
    int missed = 0;
    int replies = 0;
    int clockJumps = 0;
    double medianOffsetMs = 0.0;
    double lowestOffsetMs = 0.0;
    double highestOffsetMs = 0.0;
    // Root mean square of the change from one reply's offset to the next,
    // within the runs the chart draws as one line and not across a clock
    // set: how much the readings wander, whatever the clock's steady error.
    double jitterMs = 0.0;
    double medianDelayMs = 0.0;

    static HistoryFigures of(const QVector<ClockSample>& samples);

    // "Last hour: 360 probes, 0 missed, offset median +0.001 s, from −0.003 to +0.004 s, ..."
    QString summary(const QString& rangeName) const;

    // "+0.412 ms", "−3.5 ms", "+1.250 s"; past 10 s a rounded duration.
    static QString signedSeconds(double ms);
    static QString seconds(double ms);
};

// Splits a record into the runs the chart draws as one line: a missed probe,
// a restart of the watcher, or replies further apart than two probes and a
// bit end one. Fed every entry in order.
class HistoryRuns {
public:
    static constexpr qint64 kJoinedWithinMs = 25000;
    // For a reply: true when it begins a new run.
    bool startsRun(const ClockSample& s);

private:
    qint64 lastReplyMs_ = 0;
    bool broken_ = true;
};
