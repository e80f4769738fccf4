#include "adminstep.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include "elevatedlaunch_win.h"
#else
#include <QProcess>
#include <unistd.h>
#endif

namespace AdminStep {

QString missingScriptMessage()
{
    return QStringLiteral("Setup script not found next to the app.");
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
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + scriptFileName();
}

QString setTimeArgument(const QDateTime& utc)
{
    return utc.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

QString powerShellParameters(const QString& scriptPath, const QStringList& args)
{
    QString text = QStringLiteral("-NoProfile -ExecutionPolicy Bypass -File \"%1\"")
                       .arg(QDir::toNativeSeparators(scriptPath));
    for (const QString& arg : args) {
        text += QLatin1Char(' ');
        text += arg;
    }
    return text;
}

QStringList pkexecArguments(const QString& scriptPath, const QStringList& args)
{
    // Without these a run meant for a scratch folder would change the real
    // system.
    QStringList command;
    for (const char* name : {"TAVRIN_PELLUM_ROOT", "TAVRIN_PELLUM_SYNC_WAIT"}) {
        if (qEnvironmentVariableIsSet(name))
            command << QString::fromLatin1(name) + u'=' + qEnvironmentVariable(name);
    }
    if (!command.isEmpty())
        command.prepend(QStringLiteral("/usr/bin/env"));
    command << QStringLiteral("/bin/bash") << scriptPath;
    return command + args;
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
            *message = stepErrorMessage();
        return AdminStepResult::Failed;
    }
}

} // namespace AdminStep

namespace {

// Runs the script elevated and waits for it. False when it could not be
// started; otherwise *exitCode holds how it ended.
bool runScriptElevated(const QString& script, const QStringList& args, int* exitCode)
{
#ifdef Q_OS_WIN
    const std::wstring parameters = AdminStep::powerShellParameters(script, args).toStdWString();
    unsigned long code = 1;
    if (!ElevatedLaunch::runPowerShellElevated(parameters, &code))
        return false;
    *exitCode = static_cast<int>(code);
    return true;
#else
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    // A terminal user may have to answer the permission prompt.
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    const bool alreadyRoot = ::geteuid() == 0;
    if (alreadyRoot) {
        process.setProgram(QStringLiteral("bash"));
        process.setArguments(QStringList{script} + args);
    } else {
        // pkexec asks for permission each time.
        process.setProgram(QStringLiteral("pkexec"));
        process.setArguments(AdminStep::pkexecArguments(script, args));
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
    // 126: prompt dismissed or file not executable; 127: not authorised or
    // nothing to run. The script itself never uses either.
    if (code == 126 || code == 127)
        return false;
    *exitCode = code;
    return true;
#endif
}

} // namespace

AdminStepResult runAdminStep(const QStringList& args, QString* message)
{
    const QString script = AdminStep::scriptPath();
    if (!QFileInfo(script).isFile()) {
        if (message)
            *message = AdminStep::missingScriptMessage();
        return AdminStepResult::Failed;
    }
    int exitCode = 1;
    if (!runScriptElevated(script, args, &exitCode)) {
        if (message)
            *message = AdminStep::launchFailedMessage();
        return AdminStepResult::Failed;
    }
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
