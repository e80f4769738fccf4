#include "clockhistory.h"

#include <algorithm>

ClockHistory::ClockHistory(const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
{
}

ClockHistory::~ClockHistory() = default;

QVector<ClockSample> ClockHistory::between(qint64 fromUtcMs, qint64 toUtcMs) const
{
    QVector<ClockSample> out;
    for (const ClockSample& s : m_samples) {
        if (s.utcMs >= fromUtcMs && s.utcMs <= toUtcMs)
            out.append(s);
    }
    return out;
}

void ClockHistory::recordReply(qint64 utcMs, qint64 offsetMs, qint32 delayMs, ClockState state)
{
    append({utcMs, offsetMs, delayMs, ClockSample::Kind::Reply, state});
}

void ClockHistory::recordMissed(qint64 utcMs, ClockState state)
{
    append({utcMs, 0, 0, ClockSample::Kind::Missed, state});
}

void ClockHistory::recordStateChange(qint64 utcMs, ClockState state)
{
    append({utcMs, 0, 0, ClockSample::Kind::StateChange, state});
}

void ClockHistory::recordClockJump(qint64 utcMs, qint64 jumpMs, ClockState state)
{
    append({utcMs, jumpMs, 0, ClockSample::Kind::ClockJump, state});
}

void ClockHistory::append(const ClockSample& sample)
{
    m_samples.append(sample);
    const qint64 cutoff = sample.utcMs - kKeepMs;
    const auto firstKept = std::find_if(m_samples.begin(), m_samples.end(),
                                        [cutoff](const ClockSample& s) { return s.utcMs >= cutoff; });
    m_samples.erase(m_samples.begin(), firstKept);
    emit recorded(sample);
}
