// Start-up costs of the application shell: the single-instance claim, the
// second launch's hand-over, and building and tearing down the whole
// controller (watcher, both windows) on the offscreen platform. The
// controller part runs in a private network namespace with nothing up, so
// the discovery broadcast of the first show goes nowhere; it needs root.

#include "clientapp.h"
#include "singleinstance.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QTemporaryDir>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures {
    std::vector<double> ms;
    void add(double v) { ms.push_back(v); }
    void print(const char* what)
    {
        std::sort(ms.begin(), ms.end());
        double sum = 0;
        for (double v : ms)
            sum += v;
        std::printf("%-42s median %8.3f ms  mean %8.3f ms  max %8.3f ms  (%zu runs)\n", what, ms[ms.size() / 2],
                    sum / double(ms.size()), ms.back(), ms.size());
    }
};

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const bool isolated = ::geteuid() == 0 && ::unshare(CLONE_NEWNET) == 0;
    QTemporaryDir scratch;
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR",
                            "TAVRIN_PELLUM_ROOT", "XDG_RUNTIME_DIR"})
        qputenv(var, scratch.path().toLocal8Bit());
    qputenv("USERNAME", "bench-" + QByteArray::number(::getpid()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrin Pellum"));
    QApplication::setApplicationVersion(QStringLiteral("1.7.0"));
    QApplication::setOrganizationName(QStringLiteral("Quorrel Two"));

    constexpr int kRounds = 40;
    Figures claim, handOver;
    for (int i = 0; i < kRounds; ++i) {
        QLocalServer* server = nullptr;
        QElapsedTimer t;
        t.start();
        const bool first = claimSingleInstance(&server);
        claim.add(t.nsecsElapsed() / 1e6);
        if (!first) {
            std::printf("unexpected: another instance answered\n");
            return 1;
        }
        t.restart();
        const bool second = claimSingleInstance(nullptr);
        handOver.add(t.nsecsElapsed() / 1e6);
        if (second)
            std::printf("unexpected: the guard did not answer\n");
        delete server;
    }
    claim.print("claim the instance name (nobody there)");
    handOver.print("second launch hands over to the first");

    if (!isolated) {
        std::printf("controller figures skipped: need root for a private network namespace\n");
        return 0;
    }
    Figures build, teardown;
    const long rssBefore = rssKiB();
    long rssBuilt = 0;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer t;
        t.start();
        auto* controller = new ClientApp(false);
        QCoreApplication::processEvents();
        build.add(t.nsecsElapsed() / 1e6);
        rssBuilt = std::max(rssBuilt, rssKiB());
        t.restart();
        delete controller;
        QCoreApplication::processEvents();
        teardown.add(t.nsecsElapsed() / 1e6);
    }
    build.print("build the controller and show the window");
    teardown.print("tear the controller down");
    std::printf("%-42s %ld KiB before, %ld KiB with a controller, %ld KiB after 10 rounds\n", "resident set",
                rssBefore, rssBuilt, rssKiB());
    return 0;
}
