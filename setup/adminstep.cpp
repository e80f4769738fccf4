#include "adminstep.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include "elevatedlaunch_win.h"
#include "scriptsafety_win.h"
#else
#include <QFile>
#include <QProcess>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Where libexec lies relative to bin, set by the build to match the install.
#ifndef PELLUM_LIBEXEC_FROM_BIN
#define PELLUM_LIBEXEC_FROM_BIN "../libexec"
#endif

namespace AdminStep {

namespace {
std::function<quintptr()>& promptOwner()
{
    static std::function<quintptr()> owner;
    return owner;
}
} // namespace

void setPromptOwner(const std::function<quintptr()>& owner)
{
    promptOwner() = owner;
}

QString missingScriptMessage(const QString& scriptPath)
{
#ifdef Q_OS_WIN
    Q_UNUSED(scriptPath)
    return QStringLiteral("Setup script not found next to the app.");
#else
    // The helper lives under libexec, not next to the program: say where.
    return QStringLiteral("Setup helper not found: %1.").arg(scriptPath);
#endif
}

QString launchFailedMessage()
{
    return QStringLiteral("Could not start the administrator step (was the permission prompt cancelled?).");
}

QString stepErrorMessage()
{
    return QStringLiteral("The administrator step reported an error.");
}

QString scriptFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("tavrin-pellum.ps1");
#else
    return QStringLiteral("tavrin-pellum.sh");
#endif
}

QString scriptPath()
{
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + scriptFileName();
#else
    const QString folder = QDir::cleanPath(QCoreApplication::applicationDirPath()
                                           + QStringLiteral("/" PELLUM_LIBEXEC_FROM_BIN "/tavrin-pellum"));
    // pkexec matches the polkit action by this exact path.
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return (canonical.isEmpty() ? folder : canonical) + QLatin1Char('/') + scriptFileName();
#endif
}

QString setTimeArgument(const QDateTime& utc)
{
    return utc.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

QString powerShellParameters(const QString& scriptPath, const QStringList& args)
{
    // -NonInteractive: an elevated script that stops to ask would wait unseen.
    QString text = QStringLiteral("-NoProfile -NonInteractive -ExecutionPolicy Bypass -File \"%1\"")
                       .arg(QDir::toNativeSeparators(scriptPath));
    for (const QString& arg : args) {
        text += QLatin1Char(' ');
        text += arg;
    }
    return text;
}

#ifndef Q_OS_WIN
QString unsafeHelperMessage(const QString& helper)
{
    // The helper and every folder above it must be root's and closed to
    // others, as sudo and ssh ask of what they trust. A sticky folder such as
    // /tmp may be open to all: nobody else can rename or remove the root-owned
    // entry in it.
    const auto problem = [&](const QString& path, bool isFolder) -> QString {
        struct stat st;
        const char* why = nullptr;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            why = "cannot be examined";
        else if (S_ISLNK(st.st_mode))
            why = "is a symbolic link";
        else if (isFolder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
            why = "is not a plain file";
        else if (st.st_uid != 0)
            why = "is not owned by root";
        else if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(isFolder && (st.st_mode & S_ISVTX)))
            why = "is writable by group or others";
        if (!why)
            return {};
        return QStringLiteral("The setup helper will not run as root: %1 %2.").arg(path, QLatin1String(why));
    };
    QString message = problem(helper, false);
    for (QString dir = QFileInfo(helper).absolutePath(); message.isEmpty();
         dir = QFileInfo(dir).absolutePath()) {
        message = problem(dir, true);
        if (dir == QLatin1String("/"))
            break;
    }
    return message;
}
#endif

QString exitCodeMeaning(int exitCode)
{
    // The codes both setup scripts document in their headers.
    switch (exitCode) {
    case 1:
        return QStringLiteral("The setup script stopped on an unexpected error.");
    case 2:
        return QStringLiteral("The setup script did not accept the command; nothing was changed.");
    case 4:
        return QStringLiteral("The step needs administrator rights; nothing was changed.");
    case 5:
        return QStringLiteral("Changing the time settings failed, and the earlier settings were put back.");
    case 6:
#ifdef Q_OS_WIN
        return QStringLiteral("The Windows Time service is not available; nothing was changed.");
#else
        return QStringLiteral("The time service (systemd-timesyncd) is not installed; nothing was changed.");
#endif
    case 7:
        return QStringLiteral("This computer is not set up to sync with a Tavrin server.");
    case 8:
        return QStringLiteral("Setting the clock failed.");
    case 9:
        return QStringLiteral("This computer's time is managed by its domain or by a policy, so it was left as it is.");
    case 10:
        return QStringLiteral("The server answered, but the time service did not take its time.");
    case 11:
        return QStringLiteral("Changing the time settings failed, and putting the earlier settings back failed too.");
    case 12:
        return QStringLiteral("The time service no longer follows the chosen server: its settings were changed "
                              "outside Tavrin Pellum. Set it up again to sync with the server.");
    case 13:
        return QStringLiteral("The time service did not start or stop within its time limit.");
    case 14:
        return QStringLiteral("The sync did not end within its time limit.");
    default:
        return QStringLiteral("The setup script stopped with code %1.").arg(exitCode);
    }
}

bool setUpWithoutSync(int exitCode)
{
    return exitCode == 10 || exitCode == 14;
}

AdminStepResult resultForExitCode(int exitCode, QString* message)
{
    switch (exitCode) {
    case 0:
        return AdminStepResult::Done;
    case 3:
        return AdminStepResult::NoAnswer;
    default:
        if (message)
            *message = stepErrorMessage() + QLatin1Char(' ') + exitCodeMeaning(exitCode);
        return AdminStepResult::Failed;
    }
}

} // namespace AdminStep

namespace {

#ifndef Q_OS_WIN
// A scratch root never crosses the privilege boundary: with one set the
// script works on that tree as the caller, who needs no root for it.
bool scratchMode()
{
    return !qEnvironmentVariableIsEmpty("TAVRIN_PELLUM_ROOT");
}

bool needsElevation()
{
    return !scratchMode() && ::geteuid() != 0;
}
#endif

// Runs the script elevated and waits for it. False when it could not be
// started; otherwise *exitCode holds how it ended.
bool runScriptElevated(const QString& script, const QStringList& args, int* exitCode)
{
#ifdef Q_OS_WIN
    const std::wstring parameters = AdminStep::powerShellParameters(script, args).toStdWString();
    unsigned long code = 1;
    const auto& owner = AdminStep::promptOwner();
    void* window = owner ? reinterpret_cast<void*>(owner()) : nullptr;
    if (!ElevatedLaunch::runPowerShellElevated(parameters, window, &code))
        return false;
    *exitCode = static_cast<int>(code);
    return true;
#else
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    // A terminal user may have to answer the permission prompt.
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    const bool elevate = needsElevation();
    if (elevate) {
        // The helper itself is the program, so polkit shows our own action;
        // pkexec hands it a clean environment.
        process.setProgram(QStringLiteral("/usr/bin/pkexec"));
        process.setArguments(QStringList{script} + args);
    } else {
        process.setProgram(script);
        process.setArguments(args);
    }
    process.start();
    if (!process.waitForStarted(-1))
        return false;
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit) {
        *exitCode = 1;
        return true;
    }
    const int code = process.exitCode();
    // pkexec: 126 prompt dismissed, 127 not authorised. The script itself
    // never uses either.
    if (elevate && (code == 126 || code == 127))
        return false;
    *exitCode = code;
    return true;
#endif
}

} // namespace

AdminStepResult runAdminStep(const QStringList& args, QString* message, int* exitCodeOut)
{
    const QString script = AdminStep::scriptPath();
    if (!QFileInfo(script).isFile()) {
        if (message)
            *message = AdminStep::missingScriptMessage(script);
        return AdminStepResult::Failed;
    }
#ifdef Q_OS_WIN
    // The permission prompt names only the shell, never the script: what it
    // runs must be out of every non-administrator's reach, and stay so (held
    // open) until the step has ended, however long the prompt waits.
    const std::wstring native = QDir::toNativeSeparators(script).toStdWString();
    const ScriptSafety::ScriptHold hold(native);
    std::wstring where, held;
    const std::wstring why = hold.check(native, &where, &held);
    if (!why.empty()) {
        if (message)
            *message = QStringLiteral("The setup script will not run elevated: %1 %2. Install Tavrin Pellum with "
                                      "its installer, or move the program's folder where only administrators can "
                                      "change it, such as Program Files.")
                           .arg(QString::fromStdWString(where), QString::fromStdWString(why));
        return AdminStepResult::Failed;
    }
#else
    // Whatever runs as root must be out of every other user's reach.
    if (needsElevation() || ::geteuid() == 0) {
        const QString unsafe = AdminStep::unsafeHelperMessage(script);
        if (!unsafe.isEmpty()) {
            if (message)
                *message = unsafe;
            return AdminStepResult::Failed;
        }
    }
#endif
    int exitCode = 1;
#ifdef Q_OS_WIN
    // By the path it really has: the one spelled may lead elsewhere by now.
    const QString run = QDir::fromNativeSeparators(QString::fromStdWString(held));
#else
    const QString& run = script;
#endif
    if (!runScriptElevated(run, args, &exitCode)) {
        if (message)
            *message = AdminStep::launchFailedMessage();
        return AdminStepResult::Failed;
    }
    if (exitCodeOut)
        *exitCodeOut = exitCode;
    return AdminStep::resultForExitCode(exitCode, message);
}

AdminStepResult setSystemClock(const QDateTime& utc, QString* message)
{
    QString collected;
    const AdminStepResult result = runAdminStep(
        {QStringLiteral("set-time"), QStringLiteral("-Time"), AdminStep::setTimeArgument(utc)},
        &collected);
    if (result != AdminStepResult::Failed)
        return AdminStepResult::Done;
    if (message)
        *message = collected;
    return AdminStepResult::Failed;
}
