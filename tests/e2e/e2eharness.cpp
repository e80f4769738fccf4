#include "e2eharness.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/types.h>

namespace E2E {

QString programPath() { return qEnvironmentVariable("PELLUM_PROGRAM"); }
QString testServerPath() { return qEnvironmentVariable("PELLUM_TEST_SERVER"); }
QString closeHelperPath() { return qEnvironmentVariable("PELLUM_X11_CLOSE"); }
QString standinScriptPath() { return QStringLiteral(PELLUM_SOURCE_DIR "/tests/e2e/standin-setup.sh"); }

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return done();
        QTest::qWait(50);
    }
    return true;
}

// ---- Sandbox

Sandbox::Sandbox()
{
    for (const char* sub : {"home", "config", "data", "cache", "runtime", "tmp", "root", "bin"})
        QDir().mkpath(path(QString::fromLatin1(sub)));
    QFile::setPermissions(path(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QString Sandbox::path(const QString& relative) const
{
    return relative.isEmpty() ? dir.path() : dir.path() + QLatin1Char('/') + relative;
}

QString Sandbox::settingsPath() const
{
    return path(QStringLiteral("config/Quorrel Two/Tavrin Pellum.conf"));
}

QString Sandbox::autostartPath() const
{
    return path(QStringLiteral("config/autostart/tavrin-pellum.desktop"));
}

QString Sandbox::setupRecordPath() const
{
    return path(QStringLiteral("root/var/lib/tavrin-pellum/setup.ini"));
}

QString Sandbox::standinLogPath() const { return path(QStringLiteral("setup-calls.log")); }

void Sandbox::writeSettings(const QVariantMap& values) const
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

QVariant Sandbox::setting(const QString& key) const
{
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    return settings.value(key);
}

bool Sandbox::settingsLoad() const
{
    if (!QFileInfo::exists(settingsPath()))
        return true; // nothing written yet is a valid, empty store
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    return settings.status() == QSettings::NoError;
}

void Sandbox::writeSetupRecord(const QString& server) const
{
    QDir().mkpath(QFileInfo(setupRecordPath()).absolutePath());
    QSettings record(setupRecordPath(), QSettings::IniFormat);
    record.setValue(QStringLiteral("Server"), server);
    record.setValue(QStringLiteral("HasPrevious"), 0);
    record.sync();
}

QString Sandbox::installProgram() const
{
    const QString binary = path(QStringLiteral("bin/tavrin-pellum"));
    const QString script = path(QStringLiteral("bin/tavrin-pellum.sh"));
    if (!QFileInfo::exists(binary)) {
        QFile::copy(programPath(), binary);
        QFile::copy(standinScriptPath(), script);
        const auto exec = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        QFile::setPermissions(binary, exec);
        QFile::setPermissions(script, exec);
    }
    return binary;
}

QProcessEnvironment Sandbox::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
    env.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
    env.insert(QStringLiteral("TAVRIN_PELLUM_ROOT"), path(QStringLiteral("root")));
    env.insert(QStringLiteral("PELLUM_STANDIN_LOG"), standinLogPath());
    // A user of its own: the instance name never meets another test's.
    env.insert(QStringLiteral("USERNAME"), QStringLiteral("e2e-") + QFileInfo(path()).fileName());
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    return env;
}

bool Sandbox::addFakeTime(QProcessEnvironment* env, const QString& offsetFile)
{
    const QString library = QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1");
    if (!QFileInfo::exists(library))
        return false;
    env->insert(QStringLiteral("LD_PRELOAD"), library);
    env->insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), offsetFile);
    env->insert(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
    env->insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    // A sanitizer build refuses to start with another library preloaded first.
    QString asan = env->value(QStringLiteral("ASAN_OPTIONS"));
    asan += (asan.isEmpty() ? QString() : QStringLiteral(":")) + QStringLiteral("verify_asan_link_order=0");
    env->insert(QStringLiteral("ASAN_OPTIONS"), asan);
    return true;
}

void Sandbox::writeFakeTimeOffset(const QString& offsetFile, const char* offset)
{
    // Replaced in one step: the program reads the file at every clock call.
    QSaveFile file(offsetFile);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(offset);
        file.write("\n");
        file.commit();
    }
}

void Sandbox::applyToThisProcess() const
{
    const QProcessEnvironment env = environment();
    for (const char* key : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR",
                               "TMPDIR", "TAVRIN_PELLUM_ROOT", "PELLUM_STANDIN_LOG", "USERNAME"})
        qputenv(key, env.value(QLatin1String(key)).toLocal8Bit());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// ---- TestServer

TestServer::TestServer(const QString& ns, const QString& address, const QString& workDir)
    : ns(ns)
    , listenAddress(address)
    , work(workDir)
    , reportLog(workDir + QStringLiteral("/reports.jsonl"))
    , controlFile(workDir + QStringLiteral("/server.ctl"))
{
}

TestServer::~TestServer() { stop(); }

bool TestServer::start(const QStringList& extraArgs)
{
    stop();
    process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::SeparateChannels);
    QStringList args{QStringLiteral("--listen"), listenAddress, QStringLiteral("--report-log"), reportLog,
                     QStringLiteral("--control"), controlFile};
    args += extraArgs;
    if (ns.isEmpty())
        process->start(testServerPath(), args);
    else
        process->start(QStringLiteral("ip"),
                       QStringList{QStringLiteral("netns"), QStringLiteral("exec"), ns, testServerPath()} + args);
    if (!process->waitForStarted(10000))
        return false;
    return waitFor([this] {
        return process->state() != QProcess::Running
               || process->peek(4096).contains("ready");
    }, 15000) && process->state() == QProcess::Running;
}

void TestServer::stop()
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(10000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    process.reset();
}

bool TestServer::isRunning() const { return process && process->state() == QProcess::Running; }

void TestServer::setControl(const QString& options) const
{
    QSaveFile file(controlFile);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(options.toUtf8());
        file.write("\n");
        file.commit();
    }
}

QList<QJsonObject> TestServer::reports() const
{
    QList<QJsonObject> out;
    QFile file(reportLog);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            if (entry.contains(QLatin1String("report")))
                out << entry.value(QLatin1String("report")).toObject();
        }
    }
    return out;
}

QString TestServer::errors() const
{
    return process ? QString::fromLocal8Bit(process->readAllStandardError()) : QString();
}

QList<QJsonObject> distinctReports(const QList<QJsonObject>& reports)
{
    QList<QJsonObject> out;
    QSet<QString> seen;
    for (const QJsonObject& r : reports) {
        const QString key = QString::number(r.value(QLatin1String("t")).toDouble(), 'f', 0)
                            + r.value(QLatin1String("id")).toString()
                            + (r.value(QLatin1String("bye")).toBool() ? QStringLiteral("bye") : QString());
        if (seen.contains(key))
            continue;
        seen.insert(key);
        out << r;
    }
    return out;
}

// ---- VirtualDisplay

VirtualDisplay::VirtualDisplay() = default;

namespace {
void stopProcess(std::unique_ptr<QProcess>& process)
{
    if (process && process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished(3000);
    }
    process.reset();
}
} // namespace

VirtualDisplay::~VirtualDisplay()
{
    stopTrayHost();
    stopProcess(process);
}

bool VirtualDisplay::start(const QString& workDir, bool withTrayHost)
{
    const QString numberFile = workDir + QStringLiteral("/display");
    QFile::remove(numberFile);
    process = std::make_unique<QProcess>();
    process->setStandardOutputFile(workDir + QStringLiteral("/xvfb.log"));
    process->setStandardErrorFile(workDir + QStringLiteral("/xvfb.log"), QIODevice::Append);
    // -displayfd picks a free display number and tells it on fd 3.
    process->start(QStringLiteral("sh"),
                   {QStringLiteral("-c"),
                    QStringLiteral("exec Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -noreset 3>\"$0\""),
                    numberFile});
    if (!process->waitForStarted(10000))
        return false;
    const bool ok = waitFor([&] {
        QFile f(numberFile);
        return f.open(QIODevice::ReadOnly) && f.readAll().trimmed().size() > 0;
    }, 20000);
    if (!ok)
        return false;
    QFile f(numberFile);
    f.open(QIODevice::ReadOnly);
    display = QLatin1Char(':') + QString::fromLatin1(f.readAll().trimmed());
    return !withTrayHost || startTrayHost();
}

bool VirtualDisplay::startTrayHost()
{
    stopTrayHost();
    trayHost = std::make_unique<QProcess>();
    trayHost->setProcessChannelMode(QProcess::ForwardedChannels);
    trayHost->start(QStringLiteral("wmsystemtray"), {QStringLiteral("-display"), display, QStringLiteral("--non-wmaker")});
    // Its selection window shows once it owns the notification area.
    return trayHost->waitForStarted(10000) && waitFor([this] {
        return trayHost->state() == QProcess::Running
               && !x11(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--classname"),
                                                   QStringLiteral("^selwindow$")}).isEmpty();
    }, 10000);
}

void VirtualDisplay::stopTrayHost() { stopProcess(trayHost); }

QString VirtualDisplay::x11(const QString& tool, const QStringList& args) const
{
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    run.setProcessEnvironment(env);
    run.start(tool, args);
    return run.waitForFinished(10000) ? QString::fromLatin1(run.readAllStandardOutput()) : QString();
}

QStringList VirtualDisplay::visibleWindows(const QString& titleRegex) const
{
    return x11(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--name"), titleRegex})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool VirtualDisplay::lampShown() const
{
    // Docked, the lamp is a mapped window of the program below the tray host's.
    auto count = [this](QStringList args) {
        args = QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                           QStringLiteral("^tavrin-pellum$")} + args;
        return x11(QStringLiteral("xdotool"), args).count(QLatin1Char('\n'));
    };
    return count({}) > count({QStringLiteral("--maxdepth"), QStringLiteral("1")});
}

bool VirtualDisplay::isMinimised(const QString& windowId) const
{
    // Qt says so in the hints on a shown window, in the state on a new one.
    const QString props = windowId.isEmpty() ? QString()
                                             : x11(QStringLiteral("xprop"), {QStringLiteral("-id"), windowId,
                                                                             QStringLiteral("WM_HINTS"),
                                                                             QStringLiteral("_NET_WM_STATE")});
    return props.contains(QLatin1String("Iconic")) || props.contains(QLatin1String("_NET_WM_STATE_HIDDEN"));
}

bool VirtualDisplay::requestClose(const QString& windowId) const
{
    if (closeHelperPath().isEmpty())
        return false;
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    helper.setProcessEnvironment(env);
    helper.start(closeHelperPath(), {windowId});
    return helper.waitForFinished(10000) && helper.exitCode() == 0;
}

// ---- Program

Program::Program(const QString& binary, const QProcessEnvironment& env, const QString& logFile)
    : binary(binary)
    , logFile(logFile)
    , process(std::make_unique<QProcess>())
{
    process->setProcessEnvironment(env);
    process->setStandardOutputFile(logFile, QIODevice::Append);
    process->setStandardErrorFile(logFile, QIODevice::Append);
}

Program::~Program()
{
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
}

bool Program::start(const QStringList& args)
{
    process->start(binary, args);
    return process->waitForStarted(10000);
}

qint64 Program::pid() const { return process->processId(); }

bool Program::isRunning() const { return process->state() == QProcess::Running; }

int Program::waitForExit(int timeoutMs)
{
    if (process->state() != QProcess::NotRunning) {
        const bool ended = waitFor([this] { return process->state() == QProcess::NotRunning; }, timeoutMs);
        if (!ended)
            return -1;
    }
    if (process->exitStatus() != QProcess::NormalExit)
        return -1;
    return process->exitCode();
}

void Program::terminate() { process->terminate(); }

void Program::kill()
{
    if (process->state() != QProcess::NotRunning)
        ::kill(static_cast<pid_t>(process->processId()), SIGKILL);
}

QString Program::log() const
{
    QFile f(logFile);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll().right(6000)) : QString();
}

} // namespace E2E
