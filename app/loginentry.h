#pragma once

#include <QString>

// The per-user start-at-login registration: the Run key value on Windows,
// an XDG autostart entry elsewhere.
namespace LoginEntry {

// On Windows, false too when Task Manager or Settings turned the entry off.
bool exists();
// Writes (or replaces) the entry for the given program file.
void write(const QString& programPath);
void remove();
// The command the entry starts: the quoted native path followed by " --login".
QString commandLine(const QString& programPath);

#ifndef Q_OS_WIN
QString autostartFilePath();
#endif

} // namespace LoginEntry
