#include "e2eharness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>
#include <QSettings>
#include <QTest>

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

namespace {
// Replaced in one step: readers never see half a file.
void writeAtomically(const QString& path, const QByteArray& text)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text + '\n');
        file.commit();
    }
}

void stopProcess(QProcess* process, bool gently)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    if (gently) {
        process->terminate();
        if (process->waitForFinished(10000))
            return;
    }
    process->kill();
    process->waitForFinished(5000);
}

QProcessEnvironment withDisplay(const QString& display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    return env;
}
} // namespace

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

QString Sandbox::settingsPath() const { return path(QStringLiteral("config/Quorrel Two/Tavrin Pellum.conf")); }
QString Sandbox::autostartPath() const { return path(QStringLiteral("config/autostart/tavrin-pellum.desktop")); }
QString Sandbox::setupRecordPath() const { return path(QStringLiteral("root/var/lib/tavrin-pellum/setup.ini")); }
QString Sandbox::standinLogPath() const { return path(QStringLiteral("setup-calls.log")); }

void Sandbox::writeSettings(const QVariantMap& values) const
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
}

QVariant Sandbox::setting(const QString& key) const
{
    return QSettings(settingsPath(), QSettings::IniFormat).value(key);
}

bool Sandbox::settingsLoad() const
{
    // Nothing written yet is a valid, empty store.
    return !QFileInfo::exists(settingsPath())
           || QSettings(settingsPath(), QSettings::IniFormat).status() == QSettings::NoError;
}

void Sandbox::writeSetupRecord(const QString& server) const
{
    QDir().mkpath(QFileInfo(setupRecordPath()).absolutePath());
    QSettings record(setupRecordPath(), QSettings::IniFormat);
    record.setValue(QStringLiteral("Server"), server);
    record.setValue(QStringLiteral("HasPrevious"), 0);
}

QString Sandbox::installProgram() const
{
    const QString binary = path(QStringLiteral("bin/tavrin-pellum"));
    const QString script = path(QStringLiteral("libexec/tavrin-pellum/tavrin-pellum.sh"));
    if (!QFileInfo::exists(binary)) {
        QFile::copy(programPath(), binary);
        QDir().mkpath(QFileInfo(script).path());
        QFile::copy(standinScriptPath(), script);
        const auto exec = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        QFile::setPermissions(binary, exec);
        QFile::setPermissions(script, exec);
        // As root the runner only runs a helper in folders closed to others.
        for (const char* dir : {"libexec", "libexec/tavrin-pellum"})
            QFile::setPermissions(path(QLatin1String(dir)), exec);
    }
    return binary;
}

QProcessEnvironment Sandbox::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QList<QPair<const char*, const char*>> folders{
        {"HOME", "home"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"},
        {"XDG_RUNTIME_DIR", "runtime"}, {"TMPDIR", "tmp"}, {"TAVRIN_PELLUM_ROOT", "root"}};
    for (const auto& [key, sub] : folders)
        env.insert(QLatin1String(key), path(QLatin1String(sub)));
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
    const QString asan = env->value(QStringLiteral("ASAN_OPTIONS"));
    env->insert(QStringLiteral("ASAN_OPTIONS"),
                asan + (asan.isEmpty() ? "" : ":") + QStringLiteral("verify_asan_link_order=0"));
    return true;
}

void Sandbox::writeFakeTimeOffset(const QString& offsetFile, const char* offset)
{
    // The program reads the file at every clock call.
    writeAtomically(offsetFile, offset);
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

QList<QJsonObject> TestServer::reports() const
{
    QList<QJsonObject> out;
    for (const QJsonObject& line : reportLines())
        if (line.contains(QLatin1String("report")))
            out << line.value(QLatin1String("report")).toObject();
    return out;
}

bool TestServer::hasReported(const char* state) const
{
    for (const QJsonObject& r : reports())
        if (r.value(QLatin1String("state")).toString() == QLatin1String(state))
            return true;
    return false;
}

int TestServer::goodbyes() const
{
    int n = 0;
    for (const QJsonObject& r : distinctReports(reports()))
        n += r.value(QLatin1String("bye")).toBool() ? 1 : 0;
    return n;
}

QList<QJsonObject> distinctReports(const QList<QJsonObject>& reports)
{
    QList<QJsonObject> out;
    QSet<QString> seen;
    for (const QJsonObject& r : reports) {
        const QString key = QString::number(r.value(QLatin1String("t")).toDouble(), 'f', 0)
                            + r.value(QLatin1String("id")).toString()
                            + (r.value(QLatin1String("bye")).toBool() ? QStringLiteral("bye") : QString());
        if (!seen.contains(key)) {
            seen.insert(key);
            out << r;
        }
    }
    return out;
}

// ---- VirtualDisplay

VirtualDisplay::VirtualDisplay() = default;

VirtualDisplay::~VirtualDisplay()
{
    stopTrayHost();
    stopProcess(process.get(), true);
}

bool VirtualDisplay::start(const QString& workDir, bool withTrayHost, const QString& size)
{
    const QString numberFile = workDir + QStringLiteral("/display");
    QFile::remove(numberFile);
    process = std::make_unique<QProcess>();
    process->setStandardOutputFile(workDir + QStringLiteral("/xvfb.log"));
    process->setStandardErrorFile(workDir + QStringLiteral("/xvfb.log"), QIODevice::Append);
    // -displayfd picks a free display number and tells it on fd 3.
    process->start(QStringLiteral("sh"),
                   {QStringLiteral("-c"),
                    QStringLiteral("exec Xvfb -displayfd 3 -screen 0 %1x24 -nolisten tcp -noreset 3>\"$0\"").arg(size),
                    numberFile});
    QByteArray number;
    waitFor([&] {
        QFile f(numberFile);
        number = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
        return !number.isEmpty() || process->state() == QProcess::NotRunning;
    }, 20000);
    display = QLatin1Char(':') + QString::fromLatin1(number);
    return !number.isEmpty() && (!withTrayHost || startTrayHost());
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

void VirtualDisplay::stopTrayHost()
{
    stopProcess(trayHost.get(), true);
    trayHost.reset();
}

QString VirtualDisplay::x11(const QString& tool, const QStringList& args) const
{
    QProcess run;
    run.setProcessEnvironment(withDisplay(display));
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
    QProcess helper;
    helper.setProcessEnvironment(withDisplay(display));
    helper.start(closeHelperPath(), {windowId});
    return helper.waitForFinished(10000) && helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0;
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

Program::~Program() { stopProcess(process.get(), false); }

bool Program::start(const QStringList& args)
{
    process->start(binary, args);
    return process->waitForStarted(10000);
}

qint64 Program::pid() const { return process->processId(); }

bool Program::isRunning() const { return process->state() == QProcess::Running; }

int Program::waitForExit(int timeoutMs)
{
    if (!waitFor([this] { return process->state() == QProcess::NotRunning; }, timeoutMs))
        return -1;
    return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
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
