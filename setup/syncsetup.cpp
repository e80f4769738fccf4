#include "syncsetup.h"

#include "systempaths.h"

#include <QFileInfo>
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

SyncSetup readSyncSetup()
{
#ifdef Q_OS_WIN
    const QSettings record(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin Pellum"),
                           QSettings::Registry64Format);
    return readSyncSetupFrom(record);
#else
    // QSettings would treat a directory or unreadable path as an empty record
    // too, but say so explicitly: only a regular file can hold a set-up.
    const QString path = SystemPaths::setupRecordPath();
    if (!QFileInfo(path).isFile())
        return {};
    const QSettings record(path, QSettings::IniFormat);
    return readSyncSetupFrom(record);
#endif
}
