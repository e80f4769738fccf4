#pragma once

#include "clockwatcher.h"

#include <QDateTime>

// ClockWatcher with a shiftable wall clock, a monotonic clock that moves
// only when told, and chosen destination ports.
class TestableWatcher : public ClockWatcher {
public:
    explicit TestableWatcher(QObject* parent = nullptr)
        : ClockWatcher(parent)
    {
    }

    void usePorts(quint16 sntpPort, quint16 reportPort) { setDestinationPorts(sntpPort, reportPort); }

    qint64 wallShiftMs = 0;
    qint64 monotonicNowMs = 1000000;

protected:
    qint64 wallClockMs() const override { return QDateTime::currentMSecsSinceEpoch() + wallShiftMs; }
    qint64 monotonicMs() const override { return monotonicNowMs; }
};
