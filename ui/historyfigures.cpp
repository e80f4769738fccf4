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

HistoryFigures HistoryFigures::of(const QVector<ClockSample>& samples)
{
    HistoryFigures f;
    QVector<double> offsets;
    QVector<double> delays;
    double squares = 0.0;
    int steps = 0;
    bool afterJump = false;
    for (const ClockSample& s : samples) {
        switch (s.kind) {
        case ClockSample::Kind::Reply:
            // A clock set in between moved the offset; the readings did not wander.
            if (!offsets.isEmpty() && !afterJump) {
                const double step = double(s.offsetMs) - offsets.constLast();
                squares += step * step;
                ++steps;
            }
            afterJump = false;
            offsets.append(double(s.offsetMs));
            delays.append(double(s.delayMs));
            break;
        case ClockSample::Kind::Missed:
            ++f.missed;
            break;
        case ClockSample::Kind::ClockJump:
            ++f.clockJumps;
            afterJump = true;
            break;
        case ClockSample::Kind::StateChange:
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
    const double rounded = std::round(std::fabs(ms));
    if (rounded >= kWholeSecondsFromMs)
        return Inst::formatDuration(qint64(rounded));
    return QString::number(rounded / 1000.0, 'f', 3) + QStringLiteral(" s");
}

QString HistoryFigures::signedSeconds(double ms)
{
    const double rounded = std::round(ms);
    if (rounded == 0.0)
        return seconds(0.0);
    return (rounded > 0 ? QStringLiteral("+") : QString(QChar(0x2212))) + seconds(rounded);
}

QString HistoryFigures::summary(const QString& rangeName) const
{
    QString text = QStringLiteral("%1: %2, %3 missed")
                       .arg(rangeName, plural(probes, "probe", "probes"))
                       .arg(missed);
    if (replies > 0) {
        // "from −0.003 to +0.004 s": one unit for both ends when they share it.
        QString lowest = signedSeconds(lowestOffsetMs);
        if (std::fabs(lowestOffsetMs) < kWholeSecondsFromMs && std::fabs(highestOffsetMs) < kWholeSecondsFromMs)
            lowest.chop(2);
        text += QStringLiteral(", offset median %1, from %2 to %3, jitter %4, median delay %5")
                    .arg(signedSeconds(medianOffsetMs), lowest,
                         signedSeconds(highestOffsetMs), seconds(jitterMs), seconds(medianDelayMs));
    } else if (probes > 0) {
        text += QStringLiteral(", no reply");
    }
    if (clockJumps > 0)
        text += QStringLiteral(", ") + plural(clockJumps, "clock jump", "clock jumps");
    return text;
}
