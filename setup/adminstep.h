#pragma once

#include <QString>
#include <QStringList>

class QDateTime;

// Outcome of one privileged step run through the setup script.
enum class AdminStepResult {
    Done = 0,     // script exited 0
    NoAnswer = 1, // script exited 3: step done, the time server did not answer
    Failed = 2,   // script missing, not started, or any other exit code
};

// Runs the setup script next to the program once, elevated, with `args`
// (command first: "install" "-Server" <ipv4>, "remove", "sync",
// "set-time" "-Time" <yyyy-MM-ddTHH:mm:ssZ>) and blocks until it ends.
// `message` may be null; it is written only on Failed.
AdminStepResult runAdminStep(const QStringList& args, QString* message);

// Sets the system clock to `utc` through the set-time command. Returns Done
// or Failed, never NoAnswer; on Done `message` is left untouched.
AdminStepResult setSystemClock(const QDateTime& utc, QString* message);

// Pieces of the above, exposed so they can be checked without elevation.
namespace AdminStep {

QString scriptFileName();             // "tavrin-pellum.ps1" / "tavrin-pellum.sh"
QString scriptPath();                 // application directory + "/" + scriptFileName()
QString setTimeArgument(const QDateTime& utc); // 2026-03-01T08:15:00Z

// PowerShell parameter text: the -File part with the quoted native script
// path, then each argument after one space, unquoted.
QString powerShellParameters(const QString& scriptPath, const QStringList& args);

// What pkexec runs off Windows: bash with the script and its arguments,
// behind env when the script's scratch-root or wait settings are set, since
// pkexec clears the environment.
QStringList pkexecArguments(const QString& scriptPath, const QStringList& args);

// The result of a script that ran and ended with `exitCode`, with its message.
AdminStepResult resultForExitCode(int exitCode, QString* message);

QString missingScriptMessage();
QString launchFailedMessage();
QString stepErrorMessage();

} // namespace AdminStep
