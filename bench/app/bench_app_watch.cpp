// What the program costs while it runs: time from process start to the main
// window's first paint, then resident memory and CPU time after 100 s of
// watching a test server (menu-bar watching on, so probes and reports run).
// Then how right its readings are: the first ten after start, and ten taken
// while the main window repaints without pause, against the server's known
// offset and against `ntpdate -q` of the same server where it is installed
// (PELLUM_NTPDATE names another one, say unpacked into a scratch folder).
//
// The bench moves itself into a private network namespace with only loopback
// up, starts the test server on 127.0.0.1 there, and runs a second copy of
// itself (--client) as the measured program, so that its process start is a
// real exec. Discovery broadcasts of the first show go nowhere. Needs root.
//
// PELLUM_BENCH_WATCH_S changes the watching time (default 100 s).

#include "clientapp.h"
#include "clockhistory.h"
#include "clockstate.h"
#include "clockwatcher.h"
#include "pellumwindow.h"
#include "singleinstance.h"

#include "../../tests/netlan/privateloopback.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr int kServerOffsetMs = 250;   // within the in-sync band

// Each reply the watcher records, as its error against the server's offset, in ms.
class Readings : public QObject {
public:
    explicit Readings(ClockWatcher* watcher)
    {
        connect(watcher->history(), &ClockHistory::recorded, this, [this](const ClockSample& s) {
            if (s.kind == ClockSample::Kind::Reply)
                errors.append(double(s.offsetUs) / 1000.0 - kServerOffsetMs);
        });
    }
    QList<double> errors;
};

QString listed(const QList<double>& errors, int from, int count)
{
    QStringList parts;
    double sum = 0;
    int n = 0;
    for (int i = from; i < qMin(errors.size(), from + count); ++i, ++n) {
        parts << QString::asprintf("%+.3f", errors.at(i));
        sum += errors.at(i);
    }
    if (n == 0)
        return QString();
    // The median beside the mean: on a busy machine one late wake-up moves the mean.
    QList<double> sorted = errors.mid(from, n);
    std::sort(sorted.begin(), sorted.end());
    const double median = n % 2 ? sorted.at(n / 2) : (sorted.at(n / 2 - 1) + sorted.at(n / 2)) / 2;
    return parts.join(QLatin1Char(' ')) + QString::asprintf("  (mean %+.3f, median %+.3f)", sum / n, median);
}

double monotonicBootMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Start of this process in ms since boot (clock-tick resolution).
double processStartBootMs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // starttime is field 22 overall, the 20th after the name.
    if (fields.size() < 20)
        return -1;
    return double(fields.at(19).toLongLong()) * 1e3 / double(::sysconf(_SC_CLK_TCK));
}

long statusKiB(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key))).trimmed().split(' ').value(0).toLong();
    return 0;
}

double cpuMs()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Sees the first paint event that reaches the main window or one of its children.
class FirstPaint : public QObject {
public:
    double atMs = -1;
    qint64 sinceMainMs = -1;
    const QElapsedTimer* sinceMain = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (atMs < 0 && event->type() == QEvent::Paint && watched->isWidgetType()
            && qobject_cast<PellumWindow*>(static_cast<QWidget*>(watched)->window())) {
            atMs = monotonicBootMs();
            sinceMainMs = sinceMain->elapsed();
        }
        return QObject::eventFilter(watched, event);
    }
};

int runClient(int argc, char** argv)
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    const double startMs = processStartBootMs();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrin Pellum"));
    QApplication::setApplicationVersion(QStringLiteral("1.7.0"));
    QApplication::setOrganizationName(QStringLiteral("Quorrel Two"));

    FirstPaint firstPaint;
    firstPaint.sinceMain = &sinceMain;
    app.installEventFilter(&firstPaint);

    QLocalServer* instance = nullptr;
    if (!claimSingleInstance(&instance)) {
        std::printf("unexpected: another instance answered\n");
        return 1;
    }
    ClientApp controller(false);
    controller.start(instance);

    QElapsedTimer waited;
    waited.start();
    while (firstPaint.atMs < 0 && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (firstPaint.atMs < 0) {
        std::printf("the main window was not painted within 30 s\n");
        return 1;
    }
    // Let the rest of that paint and its flush run before taking the figures.
    QCoreApplication::processEvents();
    const qint64 paintedSinceMain = sinceMain.elapsed();
    std::printf("%-46s %8.1f ms (clock-tick resolution)\n", "process start to first paint of the window",
                firstPaint.atMs - startMs);
    std::printf("%-46s %8lld ms\n", "main() to first paint event", qint64(firstPaint.sinceMainMs));
    std::printf("%-46s %8lld ms\n", "main() to the window painted, events done", paintedSinceMain);
    const long rssAtPaint = statusKiB("VmRSS:");

    ClockWatcher* watcher = controller.clockWatcher();
    Readings readings(watcher);
    int changes = 0;
    qint64 syncAfterMs = watcher->state() == ClockState::Sync ? 0 : -1;
    QElapsedTimer watching;
    QObject::connect(watcher, &ClockWatcher::changed, &app, [&] {
        ++changes;
        if (syncAfterMs < 0 && watcher->state() == ClockState::Sync)
            syncAfterMs = watching.elapsed();
    });

    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("PELLUM_BENCH_WATCH_S", &ok);
    const int watchS = ok && seconds > 0 ? seconds : 100;
    const double cpuBefore = cpuMs();
    watching.start();
    QTimer::singleShot(watchS * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double cpuUsed = cpuMs() - cpuBefore;
    const double wallMs = double(watching.elapsed());

    std::printf("%-46s %8ld KiB\n", "resident set at first paint", rssAtPaint);
    std::printf("%-46s %8ld KiB (peak %ld KiB)\n", qPrintable(QStringLiteral("resident set after %1 s of watching").arg(watchS)),
                statusKiB("VmRSS:"), statusKiB("VmHWM:"));
    std::printf("%-46s %8.1f ms (%.3f %% of one core)\n", qPrintable(QStringLiteral("CPU time over those %1 s").arg(watchS)),
                cpuUsed, 100.0 * cpuUsed / wallMs);
    const QString syncNote = syncAfterMs == 0 ? QStringLiteral("in sync at first paint")
        : syncAfterMs > 0                      ? QStringLiteral("in sync after %1 ms").arg(syncAfterMs)
                                               : QStringLiteral("never in sync");
    std::printf("%-46s %s, %d updates, %s, reported: %s\n", "watcher", qPrintable(stateReportWord(watcher->state())),
                changes, qPrintable(syncNote), watcher->isReported() ? "yes" : "no");
    const bool synced = watcher->state() == ClockState::Sync;

    // Ten more readings while the main window repaints as fast as it can.
    const int before = int(readings.errors.size());
    QWidget* window = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<PellumWindow*>(w))
            window = w;
    QTimer repaint;
    int frames = 0;
    QObject::connect(&repaint, &QTimer::timeout, &app, [&] { window->repaint(), frames += window->isVisible(); });
    QObject::connect(watcher, &ClockWatcher::changed, &app, [&] {
        if (readings.errors.size() >= before + 10)
            app.quit();
    });
    QElapsedTimer painting;
    painting.start();
    if (window) {
        window->showNormal();
        window->raise();
        repaint.start(0);
    }
    QTimer::singleShot(120000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("%-46s %s\n", "first ten readings, ms off the server's offset", qPrintable(listed(readings.errors, 0, 10)));
    std::printf("%-46s %s\n", "ten while the window repaints, ms off", qPrintable(listed(readings.errors, before, 10)));
    std::printf("%-46s %.0f frames a second\n", "repainting at", 1000.0 * frames / qMax<qint64>(1, painting.elapsed()));
    return synced ? 0 : 1;
}

int runBench(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!NetLan::enterPrivateLoopback()) {
        std::printf("skipped: needs root for a private network namespace\n");
        return 0;
    }
    QTemporaryDir scratch;
    const QDir dir(scratch.path());
    for (const char* sub : {"home", "config/Quorrel Two", "data", "cache", "tmp", "runtime",
                            "root/var/lib/tavrin-pellum", "root/run/systemd/timesync"})
        dir.mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    auto write = [&](const char* path, const QByteArray& text) {
        QFile f(dir.filePath(QString::fromLatin1(path)));
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    };
    if (!write("root/var/lib/tavrin-pellum/setup.ini", "[General]\nServer=127.0.0.1\nHasPrevious=0\n")
        || !write("root/run/systemd/timesync/synchronized", "")
        || !write("config/Quorrel Two/Tavrin Pellum.conf",
                  "[server]\naddress=127.0.0.1\nname=Bench Server\nsteady=true\n\n[menuBar]\nwatch=true\n")) {
        std::printf("could not write the scratch settings\n");
        return 1;
    }

    QProcess server;
    server.setProgram(QStringLiteral(PELLUM_BINARY_DIR "/tools/testserver/pellum-test-server"));
    server.setArguments({QStringLiteral("--listen"), QStringLiteral("127.0.0.1"), QStringLiteral("--offset-ms"),
                         QString::number(kServerOffsetMs), QStringLiteral("--name"),
                         QStringLiteral("Bench Server"), QStringLiteral("--flags"),
                         QStringLiteral("synced,accepting,steady")});
    server.start();
    QElapsedTimer t;
    t.start();
    while (!server.readAllStandardOutput().contains("ready") && t.elapsed() < 10000)
        server.waitForReadyRead(200);
    if (server.state() != QProcess::Running) {
        std::printf("the test server did not start: %s\n", server.readAllStandardError().constData());
        return 1;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString path = dir.path();
    env.insert(QStringLiteral("HOME"), path + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), path + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), path + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), path + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("TMPDIR"), path + QStringLiteral("/tmp"));
    env.insert(QStringLiteral("TAVRIN_PELLUM_ROOT"), path + QStringLiteral("/root"));
    env.insert(QStringLiteral("USERNAME"), QStringLiteral("bench-%1").arg(::getpid()));
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))   // xcb with a DISPLAY, for a real start-up
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));

    // The baseline: the same server as ntpdate sees it, in ms off its offset.
    QList<double> ntpdate;
    const QString ntpdateProgram = qEnvironmentVariableIsEmpty("PELLUM_NTPDATE")
        ? QStringLiteral("ntpdate") : qEnvironmentVariable("PELLUM_NTPDATE");
    for (int i = 0; i < 10; ++i) {
        QProcess query;
        query.start(ntpdateProgram, {QStringLiteral("-q"), QStringLiteral("127.0.0.1")});
        if (!query.waitForFinished(10000))
            break;
        const auto m = QRegularExpression(QStringLiteral("([+-]?\\d+\\.\\d+) \\+/-")).match(QString::fromLocal8Bit(query.readAll()));
        if (m.hasMatch())
            ntpdate << m.captured(1).toDouble() * 1000 - kServerOffsetMs;
    }

    QProcess client;
    client.setProcessEnvironment(env);
    client.setProcessChannelMode(QProcess::ForwardedChannels);
    client.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--client")});
    const bool finished = client.waitForStarted(10000) && client.waitForFinished(300000);
    if (!finished)
        client.kill();
    std::printf("%-46s %s\n", "ntpdate -q of the same server, ms off",
                ntpdate.isEmpty() ? "not installed or no answer" : qPrintable(listed(ntpdate, 0, int(ntpdate.size()))));
    server.terminate();
    if (!server.waitForFinished(5000))
        server.kill();
    return finished && client.exitStatus() == QProcess::NormalExit ? client.exitCode() : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--client") == 0)
        return runClient(argc, argv);
    return runBench(argc, argv);
}
