// The status panel of the main window: status chips, clock, date line and
// the four readouts, redrawn on every watcher change.
#include "pellumwindow.h"

#include "clockwatcher.h"
#include "inst.h"
#include "statustexts.h"

#include <QDateTime>
#include <QLabel>

namespace {

void showValue(InstReadout* readout, const StatusTexts::Value& value)
{
    if (value.placeholder)
        readout->setPlaceholder(value.value);
    else
        readout->setValue(value.value, value.unit);
}

} // namespace

void PellumWindow::updateStatus()
{
    const ClockState state = StatusTexts::shownState(watcher->state(), watcher->serverHost());
    const ClockReading reading = watcher->snapshot();
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(reading.nowMs);

    header->dot()->setColor(stateColor(state));
    header->dot()->setAccessibleName(QStringLiteral("Lamp: %1").arg(stateTrayWord(state)));

    updateKeeping();
    StatusTexts::Line line =
        StatusTexts::statusLine(state, reading, watcher->serverHost(), watcher->serverLabel());
    // "In sync" now says nothing of who keeps the clock between syncs.
    if (state == ClockState::Sync && !keepingNow.problem.isEmpty()) {
        line.text = QStringLiteral("Not kept - %1").arg(keepingNow.problem);
        line.mainKind = InstChip::Warn;
        line.detailKind = InstChip::Sec;
    }
    statusLine->setText(line.text);
    statusLine->setKind(line.mainKind);
    statusLine->setDetailKind(line.detailKind);

    clockLed->setDim(false);
    clockLed->setState(state == ClockState::Wrong ? InstLed::Bad : InstLed::Go);
    clockLed->setText(now.toString(QStringLiteral("HH:mm:ss")));

    dateLine->setText(StatusTexts::dateLine(now, line.subLine));

    showValue(offsetReadout, StatusTexts::offset(reading));
    showValue(lastSyncReadout, StatusTexts::lastSync(now, reading.lastSyncUtcMs));
    // A reply from before a clock jump is not the server heard by this clock.
    const qint64 sinceHeard = watcher->msSinceHeard();
    const bool stale = !reading.heard && sinceHeard >= 0 && sinceHeard <= kHeardWindowMs;
    showValue(serverHeardReadout, StatusTexts::serverHeard(stale ? -1 : sinceHeard, reading.lastSyncUtcMs));

    const StatusTexts::Value reported =
        StatusTexts::reported(watcher->reporting(), watcher->isReported(), watcher->serverHost());
    reportedReadout->setValue(reported.value, reported.unit);
    reportedReadout->setTone(reported.tone);
}
