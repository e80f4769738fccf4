#pragma once

#include "clockstate.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <functional>
#include <future>
#include <limits>

class QTimer;

// One entry of the clock's record.
struct ClockSample {
    enum class Kind : quint8 {
        Reply = 0,       // a valid reply: offsetUs and delayUs hold its figures
        Missed = 1,      // a probe that had no valid reply; atMs is when it went out
        StateChange = 2, // the state became `state`
        ClockJump = 3,   // the wall clock was set by offsetUs (positive: forward)
        Start = 4,       // the watcher started: what came before was another run
    };
    // The entry's place on the record's timeline: true time, Unix
    // milliseconds UTC, never going backwards (see ClockHistory::nowMs).
    qint64 atMs = 0;
    qint64 offsetUs = 0; // positive: this computer's clock is behind its server
    qint32 delayUs = 0;
    Kind kind = Kind::Reply;
    ClockState state = ClockState::None; // the state in force after this entry
};

// The last day of the clock against its server, ordered by atMs. Kept by the
// watcher; windows only read it and repaint on recorded().
//
// The record keeps its own timeline instead of reading the clock it watches:
// an elapsed clock that counts sleep, anchored to true time (the wall clock
// corrected by the offset of the latest reply). A step of the wall clock thus
// moves the offset trace, never the entries.
class ClockHistory : public QObject {
    Q_OBJECT
public:
    // An empty path keeps the record in memory only. A file path is read at
    // once, as far as it is sound; new entries are appended to it at most
    // once a minute, and it is rewritten whole now and then, off the GUI
    // thread, to drop what has aged out.
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
    // Writes what is unsaved now; false when writing failed.
    bool save();

    const QVector<ClockSample>& samples() const { return m_samples; }
    // Entries whose atMs lies in [fromMs, toMs], oldest first.
    QVector<ClockSample> between(qint64 fromMs, qint64 toMs) const;

    // The timeline's present: never less than before, nor than any entry.
    qint64 nowMs() const;
    // True time was `trueMs` at elapsed time `elapsedMs` (a reply was heard).
    void setTrueTime(qint64 trueMs, qint64 elapsedMs);
    // The clocks the timeline reads, both in milliseconds; the watcher hands
    // its own so that tests can move them.
    void setClocks(std::function<qint64()> wallMs, std::function<qint64()> elapsedMs);

    void recordReply(qint64 atMs, qint64 offsetUs, qint32 delayUs, ClockState state);
    void recordMissed(qint64 sentAtMs, ClockState state);
    void recordStateChange(qint64 atMs, ClockState state);
    void recordClockJump(qint64 atMs, qint64 jumpUs, ClockState state);
    void recordStart(qint64 atMs, ClockState state);

signals:
    void recorded(const ClockSample& sample);

private:
    void append(const ClockSample& sample);
    void anchorIfNeeded() const;
    void prune();
    void load();
    bool appendToFile();
    bool finishCompaction(bool wait);
    void startCompaction(bool inBackground);

    QString m_filePath;
    QVector<ClockSample> m_samples;
    QVector<ClockSample> m_unsaved;   // recorded since the file last took entries
    QTimer* m_saveTimer = nullptr;
    bool m_dirty = false;

    std::function<qint64()> m_wallMs;
    std::function<qint64()> m_elapsedMs;
    mutable bool m_anchored = false;
    mutable qint64 m_anchorTrueMs = 0;
    mutable qint64 m_anchorElapsedMs = 0;
    mutable qint64 m_floorMs = 0;
    // Until the first reply the timeline rests on the wall clock; entries
    // made meanwhile move with it when a reply says how far off it was.
    bool m_trueTimeKnown = false;
    int m_provisional = 0;
    qint64 m_loadedUpToMs = std::numeric_limits<qint64>::min();

    int m_fileEntries = -1;   // entries in the file as this record wrote it; -1: rewrite it
    std::future<bool> m_compaction;
    int m_compactionEntries = 0;
};
