#pragma once

#include "clockwatcher.h"

#include <QDateTime>
#include <QElapsedTimer>

// ClockWatcher whose wall clock can jump, and whose two clocks move on
// together as time passing moves them; freeze() stops their real part.
class TestableWatcher : public ClockWatcher {
public:
    explicit TestableWatcher(quint16 sntpPort = 123, quint16 reportPort = 12300)
    {
        setDestinationPorts(sntpPort, reportPort);
        m_mono.start();
    }
    void freeze() { m_frozenWall = QDateTime::currentMSecsSinceEpoch(), m_frozenMono = m_mono.elapsed(), m_frozen = true; }
    void advance(qint64 ms) { m_passedMs += ms; }
    qint64 jumpMs = 0;   // the wall clock set forward (+) or back (-)

protected:
    qint64 wallClockMs() const override { return (m_frozen ? m_frozenWall : QDateTime::currentMSecsSinceEpoch()) + m_passedMs + jumpMs; }
    qint64 monotonicMs() const override { return (m_frozen ? m_frozenMono : m_mono.elapsed()) + m_passedMs; }

private:
    QElapsedTimer m_mono;
    bool m_frozen = false;
    qint64 m_frozenWall = 0, m_frozenMono = 0, m_passedMs = 0;
};
