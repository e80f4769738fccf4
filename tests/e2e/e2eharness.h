#pragma once

// Helpers for the end-to-end tests: an isolated user per test, the test
// time server, a virtual display and the real program as processes.

#include "testserverprocess.h"

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>
#include <memory>

namespace E2E {

QString programPath();        // the built tavrin-pellum
QString testServerPath();     // the built pellum-test-server
QString closeHelperPath();    // pellum-x11-close, empty when not built

// Spins the event loop until `done` holds or `timeoutMs` passed.
bool waitFor(const std::function<bool()>& done, int timeoutMs);

class Program;

// A scratch user: HOME, the XDG folders (the runtime one holds the
// single-instance socket), the temp folder, the machine-wide set-up record
// and the program file itself all sit under one temporary folder.
class Sandbox {
public:
    Sandbox();
    bool isValid() const { return dir.isValid(); }
    QString path(const QString& relative = QString()) const;

    QString autostartPath() const;  // the start-at-login entry
    QString standinLogPath() const; // calls of the stand-in setup script
    QString standinCalls() const;   // what it logged, one call a line

    void writeSettings(const QVariantMap& values) const;
    QVariant setting(const QString& key) const;
    bool settingsLoad() const;      // the file parses as a settings file
    void writeSetupRecord(const QString& server) const;

    // The program copied into bin/ with the stand-in as its helper in
    // libexec/, so no test ever runs the real privileged script.
    QString installProgram() const;

    // The sandbox's environment for the program: offscreen, or on X display
    // `display`; with `fakeTime`, under libfaketime at offset "+0" until setFakeTime.
    QProcessEnvironment environment(const QString& display = {}, bool fakeTime = false) const;
    void setFakeTime(const char* offset) const; // e.g. "-5", read at every clock call
    // The installed program, started with `args` (not running when it could not start).
    std::unique_ptr<Program> launch(const QProcessEnvironment& env, const QStringList& args = {}) const;

    // Points this process's own environment at the sandbox (in-process tests).
    void applyToThisProcess() const;

private:
    QTemporaryDir dir;
};

// pellum-test-server listening on `address`, in network namespace `ns`
// (here when empty).
class TestServer : public TestServerProcess {
public:
    TestServer(const QString& ns, const QString& address) : ns(ns), listenAddress(address) {}
    bool start(const QStringList& extraArgs = {})
    {
        return TestServerProcess::start(QStringList{QStringLiteral("--listen"), listenAddress} + extraArgs, ns);
    }
    QList<QJsonObject> reports() const; // the report bodies, in arrival order
    bool hasReported(const char* state) const;
    int goodbyes() const; // distinct goodbye reports

private:
    QString ns;
    QString listenAddress;
};

// Reports counted once each, however many destinations they reached.
QList<QJsonObject> distinctReports(const QList<QJsonObject>& reports);

// Xvfb on a free display number, with or without a notification area.
class VirtualDisplay {
public:
    ~VirtualDisplay();
    bool start(const QString& workDir, bool withTrayHost = false, const QString& size = QStringLiteral("1600x1200"));
    // Runs an X tool on this display and returns what it printed.
    QString x11(const QString& tool, const QStringList& args) const;
    QString name() const { return display; }
    // A tray host (wmsystemtray) that owns the notification area; also later,
    // as a panel started after the program.
    bool startTrayHost();
    void stopTrayHost();
    // Ids of the mapped windows whose title matches the regular expression.
    QStringList visibleWindows(const QString& titleRegex) const;
    // The program's lamp is docked in the notification area.
    bool lampShown() const;
    // The window asks to be minimised (the task bar alone shows it). Without a
    // window manager it stays mapped, so visibleWindows still lists it.
    bool isMinimised(const QString& windowId) const;
    bool requestClose(const QString& windowId) const;
    // A session bus whose accessibility bus a program started with
    // withAccessibility() joins; ends with the display.
    bool startAccessibilityBus(const QString& workDir);
    QProcessEnvironment withAccessibility(QProcessEnvironment env) const;
    QProcessEnvironment onDisplay(QProcessEnvironment env) const;
    // The accessibility tree of process `pid` as a screen reader reads it
    // over AT-SPI, one node a line: "depth|role|name|states".
    QStringList accessibleTree(qint64 pid) const;

private:
    QString display;
    QString busAddress;
    std::unique_ptr<QProcess> process;
    std::unique_ptr<QProcess> trayHost;
    std::unique_ptr<QProcess> sessionBus;
};

// The program as a child process.
class Program {
public:
    Program(const QString& binary, const QProcessEnvironment& env, const QString& logFile);
    ~Program();
    bool start(const QStringList& args = {});
    qint64 pid() const;
    bool isRunning() const;
    // Exit code, or -1 on a crash or when it did not end in time.
    int waitForExit(int timeoutMs);
    void terminate();
    void kill();
    QString log() const;

private:
    QString binary;
    QString logFile;
    std::unique_ptr<QProcess> process;
};

} // namespace E2E
