// The keeping of the clock in the "This computer" section: how closely the
// record shows it held, what the time service says, and a warning when the
// operating system no longer keeps it.
#include "pellumwindow.h"

#include "clockhistory.h"
#include "clockwatcher.h"
#include "timeservice.h"

#include <QDateTime>
#include <QLabel>

namespace {

constexpr qint64 kServiceReadMs = 10000;
// Wall time running ahead of steady time by more than this was a sleep (or
// the clock set forward): the program did not watch through it.
constexpr qint64 kWakeSlackMs = 5000;

void showNote(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

} // namespace

void PellumWindow::updateKeeping()
{
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    if (!watchedFor.isValid() || nowMs - watchedSinceMs - watchedFor.elapsed() > kWakeSlackMs
        || nowMs < watchedSinceMs) {
        watchedFor.start();
        watchedSinceMs = nowMs;
    }
    if (!currentServer.isEmpty() && (!sinceServiceRead.isValid() || sinceServiceRead.elapsed() >= kServiceReadMs)) {
        sinceServiceRead.start();
        timeService->refresh();
    }

    KeepingTexts::Inputs in;
    in.setUpServer = currentServer;
    in.label = watcher->serverLabel();
    in.service = timeService->status();
    in.nowMs = nowMs;
    in.watchedSinceMs = watchedSinceMs;
    if (!currentServer.isEmpty()) {
        // The record keeps a timeline of its own; the service's stamps are wall-clock time.
        const ClockHistory* history = watcher->history();
        const QVector<ClockSample>& record = history->samples();
        const qint64 lastAtMs = record.isEmpty() ? 0 : record.constLast().atMs;
        if (record.size() != recordSeenSize || lastAtMs != recordSeenAtMs) {
            recordSeenSize = record.size();
            recordSeenAtMs = lastAtMs;
            heldNow = ClockKeeping::heldWithin(record, history->nowMs());
            driftNowUs = ClockKeeping::uncorrectedDriftUs(record, history->nowMs());
        }
        in.held = heldNow;
        in.driftUs = driftNowUs;
    }
    const QString before = keepingNow.warning;
    keepingNow = KeepingTexts::keeping(in);

    showNote(heldNote, keepingNow.held);
    showNote(serviceNote, keepingNow.service);
    showNote(keepingWarning, keepingNow.warning);
    if (keepingNow.warning != before)
        emit keepingWarningChanged(keepingNow.warning);
}
