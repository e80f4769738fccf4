#include "keepingtexts.h"

#include "instduration.h"

#include <cstdlib>

namespace KeepingTexts {

namespace {

bool sameSource(const TimeServiceStatus& s, const QString& setUp)
{
    return s.server.compare(setUp, Qt::CaseInsensitive) == 0 || (!s.address.isEmpty() && s.address == setUp);
}

QString ago(qint64 nowMs, qint64 thenMs)
{
    return Inst::formatDuration(qMax<qint64>(0, nowMs - thenMs));
}

QString serviceNote(const TimeServiceStatus& s, qint64 nowMs)
{
    if (!s.readable)
        return {};
    if (s.lastSyncUtcMs > 0 && !s.server.isEmpty()) {
        const QString text = s.running ? QStringLiteral("The time service last synced with %1 %2 ago")
                                       : QStringLiteral("The time service is not running; it last synced with %1 %2 ago");
        return text.arg(s.server, ago(nowMs, s.lastSyncUtcMs));
    }
    if (s.sourceSeenUtcMs > 0 && !s.server.isEmpty())
        return QStringLiteral("The time service named %1 as its source %2 ago").arg(s.server, ago(nowMs, s.sourceSeenUtcMs));
    if (!s.running)
        return QStringLiteral("The time service is not running");
    if (!s.server.isEmpty())
        return QStringLiteral("The time service uses %1 and has not synced with it yet").arg(s.server);
    return QStringLiteral("The time service has no server to sync with");
}

} // namespace

QString formatOffset(qint64 us)
{
    const qint64 a = std::llabs(us);
    if (a < 1000)
        return QStringLiteral("%1 ms").arg(QString::number(a / 1000.0, 'f', 1));
    if (a < 1000000)
        return QStringLiteral("%1 ms").arg(a / 1000);
    if (a < 10000000)
        return QStringLiteral("%1 s").arg(QString::number(a / 1e6, 'f', 2));
    return Inst::formatDuration(a / 1000);
}

Keeping keeping(const Inputs& in)
{
    Keeping k;
    if (in.setUpServer.isEmpty())
        return k;
    const TimeServiceStatus& s = in.service;
    if (in.held.known) {
        k.held = QStringLiteral("Held within \u00b1%1 of %2 over the last %3")
                     .arg(formatOffset(in.held.largestUs), in.label,
                          in.held.spanMs >= ClockKeeping::kDayMs ? QStringLiteral("day") : QStringLiteral("hour"));
    }
    k.service = serviceNote(s, in.nowMs);

    // What the service itself says, first: it names the cause. A source
    // logged before the program watched may predate the set-up.
    const bool namesSource = !s.server.isEmpty() && (s.sourceSeenUtcMs == 0 || s.sourceSeenUtcMs >= in.watchedSinceMs);
    if (s.running && namesSource && !sameSource(s, in.setUpServer)) {
        k.problem = QStringLiteral("Follows %1").arg(s.server);
        k.warning = QStringLiteral("The time service takes its time from %1, not %2. "
                                   "Set this computer up again to have it follow %2.").arg(s.server, in.label);
        return k;
    }
    if (s.unsyncedSinceUtcMs > 0) {
        const QString since = ago(in.nowMs, s.unsyncedSinceUtcMs);
        k.problem = QStringLiteral("No sync for %1").arg(since);
        k.warning = QStringLiteral("The time service says it has not synced for %1. Click Sync now; "
                                   "if that does not help, set this computer up again.").arg(since);
        return k;
    }
    if (s.lastSyncUtcMs > 0 && s.pollIntervalMs > 0 && (!s.running || sameSource(s, in.setUpServer))) {
        // Time asleep or before the program ran is not the service's to account for.
        const qint64 from = qMax(s.lastSyncUtcMs, in.watchedSinceMs);
        if (in.nowMs - from > 2 * s.pollIntervalMs) {
            const QString since = ago(in.nowMs, s.lastSyncUtcMs);
            k.problem = QStringLiteral("No sync for %1").arg(since);
            k.warning = (s.running ? QStringLiteral("The time service has not synced with %1 for %2. ")
                                   : QStringLiteral("The time service is not running and has not synced with %1 for %2. "))
                            .arg(in.label, since)
                + QStringLiteral("Click Sync now; if that does not help, set this computer up again.");
            return k;
        }
    }
    if (std::llabs(in.driftUs) > ClockKeeping::kDriftLimitUs) {
        const QString drift = formatOffset(in.driftUs);
        k.problem = QStringLiteral("Drifted %1 in an hour").arg(drift);
        k.warning = QStringLiteral("This computer's clock drifted %1 from %2 over the last hour and nothing "
                                   "corrected it. Click Sync now; if it drifts again, set this computer up again.")
                        .arg(drift, in.label);
    }
    return k;
}

} // namespace KeepingTexts
