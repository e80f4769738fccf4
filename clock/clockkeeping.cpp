#include "clockkeeping.h"

#include <algorithm>
#include <cstdlib>

namespace ClockKeeping {

namespace {

qint64 atMs(const ClockSample& s) { return s.atMs; }
qint64 offsetUs(const ClockSample& s) { return s.offsetUs; }

constexpr int kLeastReplies = 6;           // a minute of probes
constexpr qint64 kLongestGapMs = 5 * 60 * 1000;
constexpr qint64 kEdgeSlackMs = 5 * 60 * 1000;
// A reply held up on the network reads off by up to its delay; a step back
// smaller than this is noise, not a correction.
constexpr qint64 kNoiseUs = 10000;

QVector<ClockSample> repliesSince(const QVector<ClockSample>& samples, qint64 fromMs, qint64 nowMs,
                                  bool* jumped)
{
    QVector<ClockSample> replies;
    for (const ClockSample& s : samples) {
        if (atMs(s) < fromMs || atMs(s) > nowMs)
            continue;
        if (s.kind == ClockSample::Kind::Reply)
            replies.append(s);
        else if (s.kind == ClockSample::Kind::ClockJump && jumped)
            *jumped = true;
    }
    return replies;
}

qint64 median(QVector<qint64> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values.at(values.size() / 2);
}

} // namespace

Held heldWithin(const QVector<ClockSample>& samples, qint64 nowMs)
{
    Held held;
    if (!samples.isEmpty() && atMs(samples.first()) <= nowMs - kDayMs + kHourMs)
        held.spanMs = kDayMs;
    const QVector<ClockSample> replies = repliesSince(samples, nowMs - held.spanMs, nowMs, nullptr);
    held.known = replies.size() >= kLeastReplies;
    for (const ClockSample& s : replies)
        held.largestUs = std::max(held.largestUs, std::llabs(offsetUs(s)));
    return held;
}

qint64 uncorrectedDriftUs(const QVector<ClockSample>& samples, qint64 nowMs)
{
    bool jumped = false;
    const QVector<ClockSample> replies = repliesSince(samples, nowMs - kHourMs, nowMs, &jumped);
    if (jumped || replies.size() < kLeastReplies)
        return 0;
    // Heard from the start of the hour to now, without a long silence.
    if (atMs(replies.first()) > nowMs - kHourMs + kEdgeSlackMs || atMs(replies.last()) < nowMs - kEdgeSlackMs)
        return 0;
    for (int i = 1; i < replies.size(); ++i) {
        if (atMs(replies.at(i)) - atMs(replies.at(i - 1)) > kLongestGapMs)
            return 0;
    }
    // Each reply smoothed with its neighbours, so one late reply moves nothing.
    QVector<qint64> smooth;
    smooth.reserve(replies.size());
    for (int i = 0; i < replies.size(); ++i) {
        QVector<qint64> around;
        for (int j = std::max(0, i - 2); j <= std::min<int>(replies.size() - 1, i + 2); ++j)
            around.append(offsetUs(replies.at(j)));
        smooth.append(median(around));
    }
    const qint64 growth = smooth.last() - smooth.first();
    if (std::llabs(growth) <= kDriftLimitUs)
        return 0;
    // A drift left alone moves the clock away from the server and only
    // grows; a correction brings it back, and shows as a step back.
    const int sign = growth > 0 ? 1 : -1;
    if (smooth.last() * sign < std::llabs(growth) / 2)
        return 0;
    qint64 furthest = smooth.first() * sign;
    for (qint64 value : smooth) {
        furthest = std::max(furthest, value * sign);
        if (furthest - value * sign > kNoiseUs)
            return 0;
    }
    return growth;
}

} // namespace ClockKeeping
