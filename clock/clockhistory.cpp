#include "clockhistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

// File: "TPCH", version and entry size (16 bits each), then fixed-size
// entries, all little-endian: utcMs (64), offsetMs (64), delayMs (32), kind
// (8), state (8), and a CRC-16 of the 22 bytes before it, so that a damaged
// or torn entry ends the readable part instead of being misread.
constexpr char kMagic[4] = {'T', 'P', 'C', 'H'};
constexpr quint16 kVersion = 1;
constexpr int kHeaderSize = 8;
constexpr int kEntrySize = 24;
constexpr int kCheckedSize = 22;
// Entries dropped at the front leave room there that appending slides back
// into while the record fills at most two thirds of its capacity; with this
// much it never grows past the cap (a little over 800 KiB).
constexpr int kReserved = ClockHistory::kMaxEntries * 3 / 2 + 16;

void writeEntry(char* p, const ClockSample& s)
{
    qToLittleEndian<qint64>(s.utcMs, p);
    qToLittleEndian<qint64>(s.offsetMs, p + 8);
    qToLittleEndian<qint32>(s.delayMs, p + 16);
    p[20] = char(s.kind);
    p[21] = char(s.state);
    qToLittleEndian<quint16>(qChecksum(QByteArrayView(p, kCheckedSize)), p + kCheckedSize);
}

bool readEntry(const char* p, ClockSample* s)
{
    if (qFromLittleEndian<quint16>(p + kCheckedSize) != qChecksum(QByteArrayView(p, kCheckedSize)))
        return false;
    const auto kind = quint8(p[20]);
    const auto state = quint8(p[21]);
    if (kind > quint8(ClockSample::Kind::ClockJump) || state > quint8(ClockState::Wrong))
        return false;
    s->utcMs = qFromLittleEndian<qint64>(p);
    s->offsetMs = qFromLittleEndian<qint64>(p + 8);
    s->delayMs = qFromLittleEndian<qint32>(p + 16);
    s->kind = ClockSample::Kind(kind);
    s->state = ClockState(state);
    return true;
}

} // namespace

ClockHistory::ClockHistory(const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
{
    if (m_filePath.isEmpty())
        return;
    m_saveTimer = new QTimer(this);
    m_saveTimer->setSingleShot(true);
    connect(m_saveTimer, &QTimer::timeout, this, &ClockHistory::save);
    m_sinceSave.start();
    load();
}

ClockHistory::~ClockHistory()
{
    save();
}

QString ClockHistory::defaultFilePath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return dir.isEmpty() ? QString() : dir + QStringLiteral("/clock-history");
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
    const QByteArray data = file.read(kHeaderSize + qint64(kMaxEntries) * kEntrySize);
    if (data.size() < kHeaderSize || std::memcmp(data.constData(), kMagic, 4) != 0
        || qFromLittleEndian<quint16>(data.constData() + 4) != kVersion
        || qFromLittleEndian<quint16>(data.constData() + 6) != kEntrySize)
        return;   // foreign: the next save replaces it
    const qint64 cutoff = QDateTime::currentMSecsSinceEpoch() - kKeepMs;
    const int count = (data.size() - kHeaderSize) / kEntrySize;
    m_samples.reserve(kReserved);
    for (int i = 0; i < count; ++i) {
        ClockSample s;
        if (!readEntry(data.constData() + kHeaderSize + i * kEntrySize, &s))
            break;
        if (s.utcMs >= cutoff)
            m_samples.append(s);
    }
    // What was unreadable, or has aged out, goes at the next save.
    m_dirty = m_samples.size() != count || data.size() != kHeaderSize + count * kEntrySize;
}

bool ClockHistory::save()
{
    if (!m_dirty || m_filePath.isEmpty())
        return true;
    m_dirty = false;
    m_sinceSave.restart();
    if (m_saveTimer)
        m_saveTimer->stop();
    QByteArray data(kHeaderSize + m_samples.size() * kEntrySize, Qt::Uninitialized);
    char* p = data.data();
    std::memcpy(p, kMagic, 4);
    qToLittleEndian<quint16>(kVersion, p + 4);
    qToLittleEndian<quint16>(kEntrySize, p + 6);
    for (int i = 0; i < m_samples.size(); ++i)
        writeEntry(p + kHeaderSize + i * kEntrySize, m_samples.at(i));
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return true;
    m_dirty = true;   // tried again with the next entry, a minute on
    return false;
}

QVector<ClockSample> ClockHistory::between(qint64 fromUtcMs, qint64 toUtcMs) const
{
    QVector<ClockSample> out;
    for (const ClockSample& s : m_samples) {
        if (s.utcMs >= fromUtcMs && s.utcMs <= toUtcMs)
            out.append(s);
    }
    return out;
}

void ClockHistory::recordReply(qint64 utcMs, qint64 offsetMs, qint32 delayMs, ClockState state)
{
    append({utcMs, offsetMs, delayMs, ClockSample::Kind::Reply, state});
}

void ClockHistory::recordMissed(qint64 utcMs, ClockState state)
{
    append({utcMs, 0, 0, ClockSample::Kind::Missed, state});
}

void ClockHistory::recordStateChange(qint64 utcMs, ClockState state)
{
    append({utcMs, 0, 0, ClockSample::Kind::StateChange, state});
}

void ClockHistory::recordClockJump(qint64 utcMs, qint64 jumpMs, ClockState state)
{
    append({utcMs, jumpMs, 0, ClockSample::Kind::ClockJump, state});
}

void ClockHistory::append(const ClockSample& sample)
{
    if (m_samples.capacity() < kReserved)
        m_samples.reserve(kReserved);
    m_samples.append(sample);
    const qint64 cutoff = sample.utcMs - kKeepMs;
    auto firstKept = std::find_if(m_samples.begin(), m_samples.end(),
                                  [cutoff](const ClockSample& s) { return s.utcMs >= cutoff; });
    if (m_samples.end() - firstKept > kMaxEntries)
        firstKept = m_samples.end() - kMaxEntries;
    m_samples.erase(m_samples.begin(), firstKept);
    m_dirty = true;
    if (m_saveTimer && !m_saveTimer->isActive())
        m_saveTimer->start(int(qMax<qint64>(0, kSaveIntervalMs - m_sinceSave.elapsed())));
    emit recorded(sample);
}
