#include "historyfigures.h"

#include "instduration.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kWholeSecondsFromMs = 10000.0;

double median(QVector<double> values)
{
    if (values.isEmpty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const qsizetype mid = values.size() / 2;
    return values.size() % 2 ? values.at(mid) : (values.at(mid - 1) + values.at(mid)) / 2.0;
}

QString plural(int n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

bool HistoryRuns::startsRun(const ClockSample& s)
{
    switch (s.kind) {
    case ClockSample::Kind::Reply: {
        const bool starts = broken_ || s.atMs - lastReplyMs_ > kJoinedWithinMs;
        broken_ = false;
        lastReplyMs_ = s.atMs;
        return starts;
    }
    case ClockSample::Kind::Missed:
    case ClockSample::Kind::Start:
        broken_ = true;
        break;
    case ClockSample::Kind::StateChange:
    case ClockSample::Kind::ClockJump:
        break;
    }
    return false;
}

HistoryFigures HistoryFigures::of(const QVector<ClockSample>& samples)
{
    HistoryFigures f;
    QVector<double> offsets;
    QVector<double> delays;
    HistoryRuns runs;
    double squares = 0.0;
    int steps = 0;
    bool afterJump = false;
    for (const ClockSample& s : samples) {
        const bool newRun = runs.startsRun(s);
        switch (s.kind) {
        case ClockSample::Kind::Reply: {
            const double offset = double(s.offsetUs) / 1000.0;
            // A clock set in between moved the offset; the readings did not wander.
            if (!newRun && !afterJump) {
                const double step = offset - offsets.constLast();
                squares += step * step;
                ++steps;
            }
            afterJump = false;
            offsets.append(offset);
            delays.append(double(s.delayUs) / 1000.0);
            break;
        }
        case ClockSample::Kind::Missed:
            ++f.missed;
            break;
        case ClockSample::Kind::ClockJump:
            ++f.clockJumps;
            afterJump = true;
            break;
        case ClockSample::Kind::StateChange:
        case ClockSample::Kind::Start:
            break;
        }
    }
    f.replies = int(offsets.size());
    f.probes = f.replies + f.missed;
    if (offsets.isEmpty())
        return f;
    f.lowestOffsetMs = *std::min_element(offsets.cbegin(), offsets.cend());
    f.highestOffsetMs = *std::max_element(offsets.cbegin(), offsets.cend());
    if (steps > 0)
        f.jitterMs = std::sqrt(squares / double(steps));
    f.medianOffsetMs = median(offsets);
    f.medianDelayMs = median(delays);
    return f;
}

QString HistoryFigures::seconds(double ms)
{
    // Microseconds below 10 ms, where a LAN's figures lie.
    const double a = std::fabs(ms);
    if (std::round(a * 1000.0) < 10000.0)
        return QString::number(a, 'f', 3) + QStringLiteral(" ms");
    if (std::round(a * 10.0) < 10000.0)
        return QString::number(a, 'f', 1) + QStringLiteral(" ms");
    const double rounded = std::round(a);
    if (rounded >= kWholeSecondsFromMs)
        return Inst::formatDuration(qint64(rounded));
    return QString::number(rounded / 1000.0, 'f', 3) + QStringLiteral(" s");
}

QString HistoryFigures::signedSeconds(double ms)
{
    const QString text = seconds(ms);
    if (text.startsWith(QLatin1String("0.000 ")))
        return text;
    return (ms > 0 ? QStringLiteral("+") : QString(QChar(0x2212))) + text;
}

QString HistoryFigures::summary(const QString& rangeName) const
{
    QString text = QStringLiteral("%1: %2, %3 missed")
                       .arg(rangeName, plural(probes, "probe", "probes"))
                       .arg(missed);
    if (replies > 0) {
        // "from −0.310 to +0.412 ms": one unit for both ends when they share it.
        QString lowest = signedSeconds(lowestOffsetMs);
        const QString highest = signedSeconds(highestOffsetMs);
        const QString unit = lowest.mid(lowest.lastIndexOf(QLatin1Char(' ')));
        if ((unit == QLatin1String(" ms") || unit == QLatin1String(" s")) && highest.endsWith(unit))
            lowest.chop(unit.size());
        text += QStringLiteral(", offset median %1, from %2 to %3, jitter %4, median delay %5")
                    .arg(signedSeconds(medianOffsetMs), lowest,
                         highest, seconds(jitterMs), seconds(medianDelayMs));
    } else if (probes > 0) {
        text += QStringLiteral(", no reply");
    }
    if (clockJumps > 0)
        text += QStringLiteral(", ") + plural(clockJumps, "clock jump", "clock jumps");
    return text;
}
