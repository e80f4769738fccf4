#include "statustexts.h"

#include "instduration.h"

#include <QLabel>

#include <cstdlib>

namespace StatusTexts {

ClockState shownState(ClockState state, const QString& host)
{
    return host.isEmpty() && state != ClockState::Wrong ? ClockState::None : state;
}

Line statusLine(ClockState state, const ClockReading& reading, const QString& host,
                const QString& label)
{
    Line line{QString(), InstChip::Bad, InstChip::Sec, QStringLiteral("this computer's clock")};
    switch (shownState(state, host)) {
    case ClockState::Sync:
        line.text = QStringLiteral("In sync - %1").arg(label);
        line.mainKind = InstChip::Go;
        line.detailKind = InstChip::Info;
        break;
    case ClockState::Lost: {
        const QDateTime lastSync = QDateTime::fromMSecsSinceEpoch(reading.lastSyncUtcMs);
        line.text = QStringLiteral("Server not heard - Last synced %1 ago")
                        .arg(Inst::formatDuration(reading.nowMs - reading.lastSyncUtcMs));
        line.mainKind = InstChip::Warn;
        line.subLine = QStringLiteral("running on its own since %1")
                           .arg(lastSync.toString(QStringLiteral("HH:mm:ss")));
        break;
    }
    case ClockState::Off:
        line.text = QStringLiteral("Clock is off - %1 %2 %3")
                        .arg(Inst::formatDuration(std::llabs(reading.offsetMs)),
                             reading.offsetMs > 0 ? QStringLiteral("behind") : QStringLiteral("ahead of"),
                             label);
        line.mainKind = InstChip::Warn;
        break;
    case ClockState::Wrong:
        line.text = QStringLiteral("Clock wrong - Earlier than its last sync");
        break;
    case ClockState::None:
    default:
        line.text = host.isEmpty() ? QStringLiteral("No server")
                                   : QStringLiteral("No server - %1 does not answer").arg(label);
        // A set-up removed after syncing leaves a last sync behind.
        if (reading.lastSyncUtcMs <= 0)
            line.subLine = QStringLiteral("this computer has never synced");
        break;
    }
    return line;
}

QString dateLine(const QDateTime& now, const QString& subLine)
{
    return QStringLiteral("%1  \u00b7  %2").arg(now.toString(QStringLiteral("dddd, MMMM d, yyyy")), subLine);
}

Value offset(const ClockReading& reading)
{
    if (!reading.heard)
        return {QStringLiteral("-.---"), QString(), true};
    const qint64 abs = std::llabs(reading.offsetMs);
    if (abs < 10000)
        return {QString::number(abs / 1000.0, 'f', 3), QStringLiteral("s")};
    return {Inst::formatDuration(abs), QString()};
}

Value lastSync(const QDateTime& now, qint64 lastSyncUtcMs)
{
    if (lastSyncUtcMs <= 0)
        return {QStringLiteral("never"), QString()};
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(lastSyncUtcMs);
    const bool today = when.date() == now.date();
    return {when.toString(today ? QStringLiteral("HH:mm:ss") : QStringLiteral("d MMM yyyy")), QString()};
}

Value serverHeard(qint64 msSinceHeard, qint64 lastSyncUtcMs)
{
    if (msSinceHeard < 0)
        return {lastSyncUtcMs > 0 ? QStringLiteral("no answer") : QStringLiteral("never"), QString()};
    if (msSinceHeard < 100000)
        return {QString::number(msSinceHeard / 1000), QStringLiteral("s ago")};
    return {QString::number(msSinceHeard / 60000), QStringLiteral("min ago")};
}

Value reported(bool reporting, bool isReported, const QString& host)
{
    if (!reporting)
        return {QStringLiteral("off"), QString(), false, "muted"};
    // Reports need a server to go to: "not heard" would blame one that does not exist.
    if (host.isEmpty())
        return {QStringLiteral("no server"), QString(), false, "muted"};
    return isReported ? Value{QStringLiteral("yes"), QString(), false, "go"}
                      : Value{QStringLiteral("not heard"), QString(), false, "sec"};
}

QString shownName(const QString& name)
{
    constexpr int kLongest = 40;
    return name.size() <= kLongest ? name : name.left(24) + QChar(0x2026) + name.right(kLongest - 25);
}

void setNamingText(QLabel* label, const QString& text, const QString& name)
{
    // Some texts name no server at all; arg() would warn on each of them.
    const bool names = text.contains(QLatin1String("%1"));
    const QString shown = shownName(name);
    label->setText(names ? text.arg(shown) : text);
    label->setToolTip(shown == name ? QString() : name);
    label->setAccessibleName(shown == name || !names ? QString() : text.arg(name));
}

} // namespace StatusTexts
