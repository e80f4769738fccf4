#include "loginentry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace LoginEntry {

QString commandLine(const QString& programPath)
{
    return QStringLiteral("\"%1\" --login").arg(QDir::toNativeSeparators(programPath));
}

#ifdef Q_OS_WIN

namespace {
const char kRunKey[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Where Task Manager and Settings mark a Run entry the user turned off; the
// Run value itself stays.
const wchar_t kApprovedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
const wchar_t kValueName[] = L"Tavrin Pellum";
QString valueName() { return QStringLiteral("Tavrin Pellum"); }

// The mark is binary: an odd first byte means off (02 on, 03 off, followed
// by the time it was turned off). Without a mark the entry runs.
bool turnedOffByWindows()
{
    BYTE data[64] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, kApprovedKey, kValueName, RRF_RT_REG_BINARY, nullptr, data, &size)
        != ERROR_SUCCESS)
        return false;
    return size > 0 && (data[0] & 1);
}

void clearMark()
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kApprovedKey, kValueName);
}
}

bool exists()
{
    QSettings run(QString::fromLatin1(kRunKey), QSettings::NativeFormat);
    return run.contains(valueName()) && !turnedOffByWindows();
}

void write(const QString& programPath)
{
    QSettings run(QString::fromLatin1(kRunKey), QSettings::NativeFormat);
    run.setValue(valueName(), commandLine(programPath));
    // Switching on here is the user's say, as much as Task Manager's was.
    clearMark();
}

void remove()
{
    QSettings run(QString::fromLatin1(kRunKey), QSettings::NativeFormat);
    run.remove(valueName());
    clearMark();
}

#else

QString autostartFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/tavrin-pellum.desktop");
}

bool exists()
{
    return QFile::exists(autostartFilePath());
}

namespace {
// Exec values are unescaped twice: first as a desktop-entry string (\\, \s,
// \n, \t, \r), then by the Exec quoting rules, where ", `, $ and \ inside
// double quotes take a backslash. So the quoting escapes go in first and the
// whole text is then string-escaped.
QString desktopQuoted(const QString& path)
{
    QString quoted;
    for (QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    // A literal % must be doubled in Exec.
    quoted.replace(u'%', QStringLiteral("%%"));
    quoted = u'"' + quoted + u'"';

    QString escaped;
    for (QChar c : quoted) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c == u'\t')
            escaped += QStringLiteral("\\t");
        else if (c == u'\r')
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return escaped;
}
} // namespace

void write(const QString& programPath)
{
    const QString file = autostartFilePath();
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    QString entry;
    entry += QStringLiteral("[Desktop Entry]\n");
    entry += QStringLiteral("Type=Application\n");
    entry += QStringLiteral("Name=Tavrin Pellum\n");
    entry += QStringLiteral("Comment=Keeps this computer's clock in step with the LAN time server\n");
    entry += QStringLiteral("Exec=%1 --login\n").arg(desktopQuoted(QDir::toNativeSeparators(programPath)));
    entry += QStringLiteral("Icon=tavrin-pellum\n");
    entry += QStringLiteral("Terminal=false\n");
    entry += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    out.write(entry.toUtf8());
    out.commit();
}

void remove()
{
    QFile::remove(autostartFilePath());
}

#endif

} // namespace LoginEntry
