#include "syncsetup.h"

#include "systempaths.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QSettings>
#include <QVariant>

SyncSetup readSyncSetupFrom(const QSettings& record)
{
    SyncSetup setup;
    if (record.status() != QSettings::NoError)
        return setup;
    setup.server = record.value(QStringLiteral("Server")).toString().trimmed();
    bool converted = false;
    const int previous = record.value(QStringLiteral("HasPrevious")).toInt(&converted);
    setup.hasPrevious = converted && previous == 1;
    return setup;
}

#ifndef Q_OS_WIN
namespace {
constexpr qint64 kMaxRecordBytes = 64 * 1024;
}
#endif

SyncSetup readSyncSetup()
{
#ifdef Q_OS_WIN
    const QSettings record(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin Pellum"),
                           QSettings::Registry64Format);
    return readSyncSetupFrom(record);
#else
    // Only a regular file of sane size can hold a set-up.
    QFile file(SystemPaths::setupRecordPath());
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.read(kMaxRecordBytes + 1);
    if (text.size() > kMaxRecordBytes)
        return {};
    // QSettings keeps parsed files in a per-process cache that trusts size
    // and modification time; a record rewritten with an address of the same
    // length in the same instant would read stale. A private copy under a
    // fresh name is always parsed anew.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(text) != text.size() || !copy.flush()) {
        // No room for the copy: the record itself, possibly cached, beats
        // reading a set-up computer as not set up.
        const QSettings record(file.fileName(), QSettings::IniFormat);
        return readSyncSetupFrom(record);
    }
    const QSettings record(copy.fileName(), QSettings::IniFormat);
    return readSyncSetupFrom(record);
#endif
}
