#include "e2eharness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>
#include <QSettings>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <sys/types.h>

namespace E2E {

QString programPath() { return qEnvironmentVariable("PELLUM_PROGRAM"); }
QString testServerPath() { return qEnvironmentVariable("PELLUM_TEST_SERVER"); }
QString closeHelperPath() { return qEnvironmentVariable("PELLUM_X11_CLOSE"); }

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    return QTest::qWaitFor(done, timeoutMs);
}

namespace {
const char kSettings[] = "config/Quorrel Two/Tavrin Pellum.conf";

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

} // namespace

// ---- Sandbox

Sandbox::Sandbox()
{
    for (const char* sub : {"home", "config", "data", "cache", "runtime", "tmp", "root", "bin"})
        QDir().mkpath(path(sub));
    QFile::setPermissions(path("runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QString Sandbox::path(const QString& relative) const
{
    return relative.isEmpty() ? dir.path() : dir.path() + QLatin1Char('/') + relative;
}

QString Sandbox::autostartPath() const { return path("config/autostart/tavrin-pellum.desktop"); }
QString Sandbox::standinLogPath() const { return path("setup-calls.log"); }

QString Sandbox::standinCalls() const
{
    QFile calls(standinLogPath());
    return calls.open(QIODevice::ReadOnly) ? QString::fromUtf8(calls.readAll()).trimmed() : QString();
}

void Sandbox::writeSettings(const QVariantMap& values) const
{
    QSettings settings(path(kSettings), QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
}

QVariant Sandbox::setting(const QString& key) const
{
    return QSettings(path(kSettings), QSettings::IniFormat).value(key);
}

bool Sandbox::settingsLoad() const
{
    // Nothing written yet is a valid, empty store.
    return !QFileInfo::exists(path(kSettings))
           || QSettings(path(kSettings), QSettings::IniFormat).status() == QSettings::NoError;
}

void Sandbox::writeSetupRecord(const QString& server) const
{
    QDir().mkpath(path("root/var/lib/tavrin-pellum"));
    QSettings record(path("root/var/lib/tavrin-pellum/setup.ini"), QSettings::IniFormat);
    record.setValue("Server", server);
    record.setValue("HasPrevious", 0);
}

QString Sandbox::installProgram() const
{
    const QString binary = path("bin/tavrin-pellum");
    const QString script = path("libexec/tavrin-pellum/tavrin-pellum.sh");
    if (!QFileInfo::exists(binary)) {
        QFile::copy(programPath(), binary);
        QDir().mkpath(QFileInfo(script).path());
        QFile::copy(PELLUM_SOURCE_DIR "/tests/e2e/standin-setup.sh", script);
        const auto exec = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        QFile::setPermissions(binary, exec);
        QFile::setPermissions(script, exec);
        // As root the runner only runs a helper in folders closed to others.
        for (const char* dir : {"libexec", "libexec/tavrin-pellum"})
            QFile::setPermissions(path(dir), exec);
    }
    return binary;
}

QProcessEnvironment Sandbox::environment(const QString& display, bool fakeTime) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QList<QPair<const char*, const char*>> folders{
        {"HOME", "home"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"},
        {"XDG_RUNTIME_DIR", "runtime"}, {"TMPDIR", "tmp"}, {"TAVRIN_PELLUM_ROOT", "root"}};
    for (const auto& [key, sub] : folders)
        env.insert(key, path(sub));
    env.insert("PELLUM_STANDIN_LOG", standinLogPath());
    // A user of its own: the instance name never meets another test's.
    env.insert("USERNAME", "e2e-" + QFileInfo(path()).fileName());
    for (const char* key : {"DBUS_SESSION_BUS_ADDRESS", "SESSION_MANAGER", "WAYLAND_DISPLAY", "XAUTHORITY"})
        env.remove(QLatin1String(key));
    env.insert("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
    if (!display.isEmpty())
        env.insert("DISPLAY", display);
    if (fakeTime) {
        setFakeTime("+0");
        env.insert("LD_PRELOAD", "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1");
        env.insert("FAKETIME_TIMESTAMP_FILE", path("faketime"));
        env.insert("FAKETIME_NO_CACHE", "1");
        env.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
        // A sanitizer build refuses to start with another library preloaded first.
        const QString asan = env.value("ASAN_OPTIONS");
        env.insert("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
    }
    return env;
}

void Sandbox::setFakeTime(const char* offset) const
{
    // Replaced in one step: the program never reads half a file.
    QSaveFile file(path("faketime"));
    if (file.open(QIODevice::WriteOnly) && file.write(QByteArray(offset) + '\n') > 0)
        file.commit();
}

std::unique_ptr<Program> Sandbox::launch(const QProcessEnvironment& env, const QStringList& args) const
{
    auto program = std::make_unique<Program>(installProgram(), env, path("program.log"));
    program->start(args);
    return program;
}

void Sandbox::applyToThisProcess() const
{
    const QProcessEnvironment env = environment();
    for (const QString& key : env.keys())
        qputenv(key.toLocal8Bit().constData(), env.value(key).toLocal8Bit());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// ---- TestServer

QList<QJsonObject> TestServer::reports() const
{
    QList<QJsonObject> out;
    for (const QJsonObject& line : reportLines())
        if (line.contains("report"))
            out << line.value("report").toObject();
    return out;
}

bool TestServer::hasReported(const char* state) const
{
    const QList<QJsonObject> all = reports();
    return std::any_of(all.begin(), all.end(), [state](const QJsonObject& r) { return r.value("state") == state; });
}

int TestServer::goodbyes() const
{
    const QList<QJsonObject> all = distinctReports(reports());
    return int(std::count_if(all.begin(), all.end(), [](const QJsonObject& r) { return r.value("bye").toBool(); }));
}

QList<QJsonObject> distinctReports(const QList<QJsonObject>& reports)
{
    QList<QJsonObject> out;
    QSet<QString> seen;
    for (const QJsonObject& r : reports) {
        const QString key = QString::number(r.value("t").toDouble(), 'f', 0) + r.value("id").toString()
                            + (r.value("bye").toBool() ? "bye" : "");
        if (!seen.contains(key))
            seen.insert(key), out << r;
    }
    return out;
}

// ---- VirtualDisplay

VirtualDisplay::~VirtualDisplay()
{
    stopTrayHost();
    // The accessibility bus and its registry leave with the session bus.
    stopProcess(sessionBus.get(), true);
    stopProcess(process.get(), true);
}

bool VirtualDisplay::start(const QString& workDir, bool withTrayHost, const QString& size)
{
    const QString numberFile = workDir + "/display";
    QFile::remove(numberFile);
    process = std::make_unique<QProcess>();
    process->setStandardOutputFile(workDir + "/xvfb.log");
    process->setStandardErrorFile(workDir + "/xvfb.log", QIODevice::Append);
    // -displayfd picks a free display number and tells it on fd 3.
    process->start("sh", {"-c", QString("exec Xvfb -displayfd 3 -screen 0 %1x24 -nolisten tcp -noreset 3>\"$0\"").arg(size),
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
    trayHost->start("wmsystemtray", {"-display", display, "--non-wmaker"});
    // Its selection window shows once it owns the notification area.
    return trayHost->waitForStarted(10000) && waitFor([this] {
        return trayHost->state() == QProcess::Running && !x11("xdotool", {"search", "--classname", "^selwindow$"}).isEmpty();
    }, 10000);
}

void VirtualDisplay::stopTrayHost()
{
    stopProcess(trayHost.get(), true);
    trayHost.reset();
}

QProcessEnvironment VirtualDisplay::onDisplay(QProcessEnvironment env) const
{
    env.insert("DISPLAY", display);
    return env;
}

QString VirtualDisplay::x11(const QString& tool, const QStringList& args) const
{
    QProcess run;
    run.setProcessEnvironment(onDisplay(QProcessEnvironment::systemEnvironment()));
    run.start(tool, args);
    return run.waitForFinished(10000) ? QString::fromLatin1(run.readAllStandardOutput()) : QString();
}

QStringList VirtualDisplay::visibleWindows(const QString& titleRegex) const
{
    return x11("xdotool", {"search", "--onlyvisible", "--name", titleRegex}).split('\n', Qt::SkipEmptyParts);
}

bool VirtualDisplay::lampShown() const
{
    // Docked, the lamp is a mapped window of the program below the tray host's.
    auto count = [this](const QStringList& args) {
        return x11("xdotool", QStringList{"search", "--onlyvisible", "--classname", "^tavrin-pellum$"} + args).count('\n');
    };
    return count({}) > count({"--maxdepth", "1"});
}

bool VirtualDisplay::isMinimised(const QString& windowId) const
{
    // Qt says so in the hints on a shown window, in the state on a new one.
    const QString props = windowId.isEmpty() ? QString() : x11("xprop", {"-id", windowId, "WM_HINTS", "_NET_WM_STATE"});
    return props.contains("Iconic") || props.contains("_NET_WM_STATE_HIDDEN");
}

bool VirtualDisplay::requestClose(const QString& windowId) const
{
    return x11(closeHelperPath(), {windowId}).startsWith("sent");
}

bool VirtualDisplay::startAccessibilityBus(const QString& workDir)
{
    sessionBus = std::make_unique<QProcess>();
    QProcessEnvironment env = onDisplay(QProcessEnvironment::systemEnvironment());
    // The accessibility bus it starts on demand keeps its socket in here.
    for (const char* key : {"HOME", "XDG_RUNTIME_DIR"})
        env.insert(key, workDir);
    sessionBus->setProcessEnvironment(env);
    sessionBus->start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!sessionBus->waitForReadyRead(10000))
        return false;
    busAddress = QString::fromLatin1(sessionBus->readLine().trimmed());
    return !busAddress.isEmpty();
}

QProcessEnvironment VirtualDisplay::withAccessibility(QProcessEnvironment env) const
{
    env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
    env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    return env;
}

QStringList VirtualDisplay::accessibleTree(qint64 pid) const
{
    QProcess reader;
    reader.setProcessEnvironment(onDisplay(withAccessibility(QProcessEnvironment::systemEnvironment())));
    reader.start("/usr/bin/python3", {PELLUM_SOURCE_DIR "/tests/e2e/accessibletree.py", QString::number(pid)});
    if (!reader.waitForFinished(20000))
        reader.kill(), reader.waitForFinished(5000);
    return QString::fromUtf8(reader.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// ---- Program

Program::Program(const QString& binary, const QProcessEnvironment& env, const QString& logFile)
    : binary(binary), logFile(logFile), process(std::make_unique<QProcess>())
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
    if (process->error() == QProcess::FailedToStart
        || !waitFor([this] { return process->state() == QProcess::NotRunning; }, timeoutMs))
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
