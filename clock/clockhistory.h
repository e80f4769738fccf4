#pragma once

#include "clockstate.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>

class QTimer;

// One entry of the clock's record.
struct ClockSample {
    enum class Kind : quint8 {
        Reply = 0,       // a valid reply: offsetMs and delayMs hold its figures
        Missed = 1,      // a probe that had no valid reply before the next one went out
        StateChange = 2, // the state became `state`
        ClockJump = 3,   // the wall clock was set by offsetMs (positive: forward)
    };
    qint64 utcMs = 0;    // wall clock when it happened, Unix milliseconds
    qint64 offsetMs = 0;
    qint32 delayMs = 0;
    Kind kind = Kind::Reply;
    ClockState state = ClockState::None; // the state in force after this entry
};

// The last day of the clock against its server, oldest entry first. Kept by
// the watcher; windows only read it and repaint on recorded().
class ClockHistory : public QObject {
    Q_OBJECT
public:
    // An empty path keeps the record in memory only. A file path is read at
    // once, as far as it is sound, and written at most once a minute and
    // when the record is destroyed.
    explicit ClockHistory(const QString& filePath = QString(), QObject* parent = nullptr);
    ~ClockHistory() override;

    static constexpr qint64 kKeepMs = 24LL * 60 * 60 * 1000;
    static constexpr int kSaveIntervalMs = 60000;
    // A day of probes, each with room for a state change; keeps memory and
    // the file bounded even when the state flaps every second.
    static constexpr int kMaxEntries = 2 * 8640;

    // "clock-history" in the per-user application data folder.
    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }
    // Writes the file now when anything is unsaved; false when writing failed.
    bool save();

    const QVector<ClockSample>& samples() const { return m_samples; }
    // Entries whose utcMs lies in [fromUtcMs, toUtcMs], oldest first.
    QVector<ClockSample> between(qint64 fromUtcMs, qint64 toUtcMs) const;

    void recordReply(qint64 utcMs, qint64 offsetMs, qint32 delayMs, ClockState state);
    void recordMissed(qint64 utcMs, ClockState state);
    void recordStateChange(qint64 utcMs, ClockState state);
    void recordClockJump(qint64 utcMs, qint64 jumpMs, ClockState state);

signals:
    void recorded(const ClockSample& sample);

private:
    void append(const ClockSample& sample);
    void load();

    QString m_filePath;
    QVector<ClockSample> m_samples;
    QTimer* m_saveTimer = nullptr;
    QElapsedTimer m_sinceSave;
    bool m_dirty = false;
};
