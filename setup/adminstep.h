#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QDateTime;

// Outcome of one privileged step run through the setup script.
enum class AdminStepResult {
    Done = 0,     // script exited 0
    NoAnswer = 1, // script exited 3: step done, the time server did not answer
    Failed = 2,   // script missing, not started, or any other exit code
};

// Runs the setup script once, elevated, with `args`
// (command first: "install" "-Server" <ipv4>, "remove", "sync",
// "set-time" "-Time" <yyyy-MM-ddTHH:mm:ssZ>) and blocks until it ends.
// `message` may be null; it is written only on Failed. `exitCode`, when not
// null, receives the script's exit code if the script ran.
AdminStepResult runAdminStep(const QStringList& args, QString* message, int* exitCode = nullptr);

// Sets the system clock to `utc` through the set-time command. Returns Done
// or Failed, never NoAnswer; on Done `message` is left untouched.
AdminStepResult setSystemClock(const QDateTime& utc, QString* message);

// Pieces of the above, exposed so they can be checked without elevation.
namespace AdminStep {

// The window the permission prompt belongs to (a native window id, 0 for
// none), asked for at each step; only Windows uses it.
void setPromptOwner(const std::function<quintptr()>& owner);

QString scriptFileName();             // "tavrin-pellum.ps1" / "tavrin-pellum.sh"
// Windows: next to the program. Elsewhere the root-owned helper under
// libexec/tavrin-pellum/ beside the program's bin folder, symlinks resolved.
QString scriptPath();
QString setTimeArgument(const QDateTime& utc); // 2026-03-01T08:15:00Z

// PowerShell parameter text: the -File part with the quoted native script
// path, then each argument after one space, unquoted.
QString powerShellParameters(const QString& scriptPath, const QStringList& args);

#ifndef Q_OS_WIN
// Why `helper` must not run as root, as one line; empty when it may.
QString unsafeHelperMessage(const QString& helper);
#endif

// What a failing exit code of either setup script means, as one sentence.
QString exitCodeMeaning(int exitCode);

// An install that ended with this code left the computer set up; only its
// first sync was not confirmed.
bool setUpWithoutSync(int exitCode);

// The result of a script that ran and ended with `exitCode`, with its message:
// the step error followed by the code's meaning.
AdminStepResult resultForExitCode(int exitCode, QString* message);

QString missingScriptMessage(const QString& scriptPath);
QString launchFailedMessage();
QString stepErrorMessage();

} // namespace AdminStep
