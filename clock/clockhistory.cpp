#include "clockhistory.h"

#include "elapsedclock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

// File: "TPCH", version and entry size (16 bits each), then fixed-size
// entries, all little-endian: atMs (64), offsetUs (64), delayUs (32), kind
// (8), state (8), and a CRC-16 of the 22 bytes before it, so that a damaged
// or torn entry ends the readable part instead of being misread. Version 1
// (up to 1.7.0) held the local wall clock and whole milliseconds in the
// same places.
constexpr char kMagic[4] = {'T', 'P', 'C', 'H'};
constexpr quint16 kVersion = 2;
constexpr quint16 kVersionMs = 1;
constexpr int kHeaderSize = 8;
constexpr int kEntrySize = 24;
constexpr int kCheckedSize = 22;
// Entries dropped at the front leave room there that appending slides back
// into while the record fills at most two thirds of its capacity; with this
// much it never grows past the cap (a little over 800 KiB).
constexpr int kReserved = ClockHistory::kMaxEntries * 3 / 2 + 16;
// The file is rewritten once it holds this many more entries than the record
// (aged out ones, or ones placed anew): about once a day.
constexpr int kCompactSlack = 256;
// A reply that puts the wall clock this far off moves the entries made
// before it, on the wall clock alone, to the true time.
constexpr qint64 kProvisionalToleranceMs = 1000;

void writeEntry(char* p, const ClockSample& s)
{
    qToLittleEndian<qint64>(s.atMs, p);
    qToLittleEndian<qint64>(s.offsetUs, p + 8);
    qToLittleEndian<qint32>(s.delayUs, p + 16);
    p[20] = char(s.kind);
    p[21] = char(s.state);
    qToLittleEndian<quint16>(qChecksum(QByteArrayView(p, kCheckedSize)), p + kCheckedSize);
}

qint32 saturated(qint64 v)
{
    return qint32(std::clamp<qint64>(v, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}

bool readEntry(const char* p, quint16 version, ClockSample* s)
{
    if (qFromLittleEndian<quint16>(p + kCheckedSize) != qChecksum(QByteArrayView(p, kCheckedSize)))
        return false;
    const auto kind = quint8(p[20]);
    const auto state = quint8(p[21]);
    const auto lastKind = version == kVersionMs ? ClockSample::Kind::ClockJump : ClockSample::Kind::Start;
    if (kind > quint8(lastKind) || state > quint8(ClockState::Wrong))
        return false;
    const qint64 unit = version == kVersionMs ? 1000 : 1;
    s->atMs = qFromLittleEndian<qint64>(p);
    s->offsetUs = qFromLittleEndian<qint64>(p + 8) * unit;
    s->delayUs = saturated(qint64(qFromLittleEndian<qint32>(p + 16)) * unit);
    s->kind = ClockSample::Kind(kind);
    s->state = ClockState(state);
    return true;
}

QByteArray header()
{
    QByteArray h(kHeaderSize, Qt::Uninitialized);
    std::memcpy(h.data(), kMagic, 4);
    qToLittleEndian<quint16>(kVersion, h.data() + 4);
    qToLittleEndian<quint16>(kEntrySize, h.data() + 6);
    return h;
}

QByteArray entries(const ClockSample* from, qsizetype count)
{
    QByteArray data(count * kEntrySize, Qt::Uninitialized);
    for (qsizetype i = 0; i < count; ++i)
        writeEntry(data.data() + i * kEntrySize, from[i]);
    return data;
}

bool lessAt(const ClockSample& a, const ClockSample& b)
{
    return a.atMs < b.atMs;
}

} // namespace

ClockHistory::ClockHistory(const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
    , m_wallMs([] { return QDateTime::currentMSecsSinceEpoch(); })
    , m_elapsedMs([] { return elapsedClockNs() / 1000000; })
{
    if (m_filePath.isEmpty())
        return;
    m_saveTimer = new QTimer(this);
    m_saveTimer->setSingleShot(true);
    connect(m_saveTimer, &QTimer::timeout, this, &ClockHistory::save);
    load();
}

ClockHistory::~ClockHistory()
{
    if (m_filePath.isEmpty())
        return;
    finishCompaction(true);
    if (!m_dirty)
        return;
    if (m_fileEntries < 0)
        startCompaction(false);
    else
        appendToFile();
}

QString ClockHistory::defaultFilePath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return dir.isEmpty() ? QString() : dir + QStringLiteral("/clock-history");
}

void ClockHistory::setClocks(std::function<qint64()> wallMs, std::function<qint64()> elapsedMs)
{
    m_wallMs = std::move(wallMs);
    m_elapsedMs = std::move(elapsedMs);
    m_anchored = false;
}

void ClockHistory::anchorIfNeeded() const
{
    if (m_anchored)
        return;
    // Until a reply is heard only the wall clock tells the time. This is
    // also how a record kept across a restart or a reboot joins the new
    // timeline: by the wall clock, and never before its own last entry.
    m_anchored = true;
    m_anchorTrueMs = m_wallMs();
    m_anchorElapsedMs = m_elapsedMs();
}

qint64 ClockHistory::nowMs() const
{
    anchorIfNeeded();
    m_floorMs = std::max(m_floorMs, m_anchorTrueMs + (m_elapsedMs() - m_anchorElapsedMs));
    return m_floorMs;
}

void ClockHistory::setTrueTime(qint64 trueMs, qint64 elapsedMs)
{
    anchorIfNeeded();
    if (!m_trueTimeKnown) {
        m_trueTimeKnown = true;
        const qint64 shift = trueMs - (m_anchorTrueMs + (elapsedMs - m_anchorElapsedMs));
        const int moved = std::min(m_provisional, int(m_samples.size()));
        m_provisional = 0;
        if (moved > 0 && qAbs(shift) > kProvisionalToleranceMs) {
            // Made on a wall clock that was off: they move with it, in order,
            // and no earlier than the record they follow.
            for (auto it = m_samples.end() - moved; it != m_samples.end(); ++it)
                it->atMs = std::max(m_loadedUpToMs, it->atMs + shift);
            m_floorMs = m_samples.constLast().atMs;
            m_fileEntries = -1;
            m_dirty = true;
        }
    }
    m_anchorTrueMs = trueMs;
    m_anchorElapsedMs = elapsedMs;
    prune();
}

void ClockHistory::load()
{
    // Only a plain file: a pipe or device in its place would block the start.
    const QFileInfo info(m_filePath);
    if (!info.isFile())
        return;
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray data = file.read(kHeaderSize + qint64(3) * kMaxEntries * kEntrySize);
    if (data.size() < kHeaderSize || std::memcmp(data.constData(), kMagic, 4) != 0)
        return;   // foreign: the next save replaces it
    const quint16 version = qFromLittleEndian<quint16>(data.constData() + 4);
    if ((version != kVersion && version != kVersionMs) || qFromLittleEndian<quint16>(data.constData() + 6) != kEntrySize)
        return;
    const int count = int((data.size() - kHeaderSize) / kEntrySize);
    m_samples.reserve(kReserved);
    for (int i = 0; i < count; ++i) {
        ClockSample s;
        if (!readEntry(data.constData() + kHeaderSize + i * kEntrySize, version, &s))
            break;
        m_samples.append(s);
    }
    const bool sound = m_samples.size() == count && data.size() == kHeaderSize + qint64(count) * kEntrySize
        && data.size() == file.size();
    // A missed probe is placed when it went out, behind entries written before it.
    if (!std::is_sorted(m_samples.begin(), m_samples.end(), lessAt))
        std::stable_sort(m_samples.begin(), m_samples.end(), lessAt);
    // Ages are measured from the record's own last entry here: the wall clock
    // may be far off at this moment.
    if (!m_samples.isEmpty()) {
        m_loadedUpToMs = m_floorMs = m_samples.constLast().atMs;
        const ClockSample cut{m_loadedUpToMs - kKeepMs};
        auto firstKept = std::lower_bound(m_samples.begin(), m_samples.end(), cut, lessAt);
        if (m_samples.end() - firstKept > kMaxEntries)
            firstKept = m_samples.end() - kMaxEntries;
        m_samples.erase(m_samples.begin(), firstKept);
    }
    // What was unreadable, or in the old form, goes at the next save.
    m_fileEntries = sound && version == kVersion ? count : -1;
}

void ClockHistory::prune()
{
    auto firstKept = m_samples.begin();
    // Only once a reply has tied the timeline to true time: a wall clock far
    // ahead must not age out the day before it.
    if (m_trueTimeKnown) {
        const ClockSample cut{nowMs() - kKeepMs};
        firstKept = std::lower_bound(m_samples.begin(), m_samples.end(), cut, lessAt);
    }
    if (m_samples.end() - firstKept > kMaxEntries)
        firstKept = m_samples.end() - kMaxEntries;
    if (firstKept != m_samples.begin())
        m_samples.erase(m_samples.begin(), firstKept);
}

bool ClockHistory::save()
{
    if (m_filePath.isEmpty())
        return true;
    if (!finishCompaction(false)) {
        m_saveTimer->start(kSaveIntervalMs);   // what came meanwhile follows it
        return true;
    }
    if (!m_dirty)
        return true;
    if (m_fileEntries < 0 || m_fileEntries + m_unsaved.size() > 2 * m_samples.size() + kCompactSlack) {
        startCompaction(true);
        return true;
    }
    return appendToFile();
}

bool ClockHistory::appendToFile()
{
    // Only onto the file as this record left it; anything else is rewritten.
    const QFileInfo info(m_filePath);
    if (!info.isFile() || info.size() != kHeaderSize + qint64(m_fileEntries) * kEntrySize) {
        m_fileEntries = -1;
        startCompaction(true);
        return true;
    }
    QFile file(m_filePath);
    const QByteArray data = entries(m_unsaved.constData(), m_unsaved.size());
    // No sync: a tail torn by a crash ends the readable part, and the entries
    // before it stay sound.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(data) != data.size()) {
        m_fileEntries = -1;   // tried again, whole, a minute on
        if (m_saveTimer)
            m_saveTimer->start(kSaveIntervalMs);
        return false;
    }
    m_fileEntries += int(m_unsaved.size());
    m_unsaved.clear();
    m_dirty = false;
    return true;
}

void ClockHistory::startCompaction(bool inBackground)
{
    QByteArray data = header() + entries(m_samples.constData(), m_samples.size());
    m_compactionEntries = int(m_samples.size());
    m_unsaved.clear();
    m_dirty = false;
    m_fileEntries = -1;
    auto write = [path = m_filePath, data = std::move(data)] {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
    };
    // Writing a day and syncing it can take long on a slow or network home
    // folder; the GUI thread does not wait for it.
    if (inBackground) {
        m_compaction = std::async(std::launch::async, std::move(write));
    } else {
        std::promise<bool> done;
        done.set_value(write());
        m_compaction = done.get_future();
        finishCompaction(true);
    }
}

bool ClockHistory::finishCompaction(bool wait)
{
    if (!m_compaction.valid())
        return true;
    if (!wait && m_compaction.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return false;
    if (m_compaction.get()) {
        m_fileEntries = m_compactionEntries;
    } else {
        m_fileEntries = -1;
        m_dirty = true;   // tried again with the next entry, a minute on
    }
    return true;
}

QVector<ClockSample> ClockHistory::between(qint64 fromMs, qint64 toMs) const
{
    const auto from = std::lower_bound(m_samples.cbegin(), m_samples.cend(), ClockSample{fromMs}, lessAt);
    const auto to = std::upper_bound(from, m_samples.cend(), ClockSample{toMs}, lessAt);
    return QVector<ClockSample>(from, to);
}

void ClockHistory::recordReply(qint64 atMs, qint64 offsetUs, qint32 delayUs, ClockState state)
{
    append({atMs, offsetUs, delayUs, ClockSample::Kind::Reply, state});
}

void ClockHistory::recordMissed(qint64 sentAtMs, ClockState state)
{
    append({sentAtMs, 0, 0, ClockSample::Kind::Missed, state});
}

void ClockHistory::recordStateChange(qint64 atMs, ClockState state)
{
    append({atMs, 0, 0, ClockSample::Kind::StateChange, state});
}

void ClockHistory::recordClockJump(qint64 atMs, qint64 jumpUs, ClockState state)
{
    append({atMs, jumpUs, 0, ClockSample::Kind::ClockJump, state});
}

void ClockHistory::recordStart(qint64 atMs, ClockState state)
{
    append({atMs, 0, 0, ClockSample::Kind::Start, state});
}

void ClockHistory::append(const ClockSample& sample)
{
    if (m_samples.capacity() < kReserved)
        m_samples.reserve(kReserved);
    // Nearly always at the end; a missed probe goes back to when it went out.
    auto at = m_samples.end();
    while (at != m_samples.begin() && (at - 1)->atMs > sample.atMs)
        --at;
    m_samples.insert(at, sample);
    m_floorMs = std::max(m_floorMs, sample.atMs);
    if (!m_trueTimeKnown)
        ++m_provisional;
    if (!m_filePath.isEmpty())
        m_unsaved.append(sample);
    prune();
    m_dirty = true;
    if (m_saveTimer && !m_saveTimer->isActive())
        m_saveTimer->start(kSaveIntervalMs);
    emit recorded(sample);
}
