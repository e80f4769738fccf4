// Start-up costs of the application shell: the single-instance claim, the
// second launch's hand-over, 20 double launches of the real program (how
// many instances stay, and how long the one that hands over takes), and
// building and tearing down the whole controller (watcher, both windows) on
// the offscreen platform. All but the claim run in a private network
// namespace with nothing up, so the discovery broadcast of a first show goes
// nowhere; they need root.

#include "clientapp.h"
#include "singleinstance.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
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

// The real program, offscreen, with this bench's scratch user.
std::unique_ptr<QProcess> launchProgram()
{
    auto p = std::make_unique<QProcess>();
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardErrorFile(QProcess::nullDevice());
    p->start(qEnvironmentVariable("PELLUM_PROGRAM", QStringLiteral(PELLUM_PROGRAM)), {});
    return p;
}

bool running(QProcess& p)
{
    p.waitForFinished(0);
    return p.state() != QProcess::NotRunning;
}

void endProgram(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

// Two launches at the same moment, 20 times: exactly one may stay. Also
// times the launch that hands over, and a later third launch against the
// instance that stayed.
void doubleLaunches()
{
    constexpr int kRounds = 20;
    Figures together, third;
    std::map<int, int> left; // instances left -> rounds
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer t;
        t.start();
        std::unique_ptr<QProcess> pair[2] = {launchProgram(), launchProgram()};
        while (t.elapsed() < 10000 && running(*pair[0]) && running(*pair[1]))
            QThread::msleep(2);
        if (!running(*pair[0]) || !running(*pair[1]))
            together.add(t.nsecsElapsed() / 1e6);
        QThread::msleep(500);
        const int stayed = int(running(*pair[0])) + int(running(*pair[1]));
        ++left[stayed];
        if (stayed == 1) {
            auto extra = launchProgram();
            t.restart();
            if (extra->waitForFinished(10000) && extra->exitCode() == 0)
                third.add(t.nsecsElapsed() / 1e6);
            endProgram(*extra);
        }
        for (auto& p : pair)
            endProgram(*p);
    }
    for (const auto& [stayed, rounds] : left)
        std::printf("%-42s %d instance(s) left in %d of %d rounds%s\n", "double launch of the real program", stayed,
                    rounds, kRounds, stayed == 1 ? "" : "  <-- must be 1");
    if (!together.ms.empty())
        together.print("double launch: the one that hands over");
    if (!third.ms.empty())
        third.print("later launch hands over (start to exit)");
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
        std::printf("program and controller figures skipped: need root for a private network namespace\n");
        return 0;
    }
    doubleLaunches();

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
