// Main window figures: construction to first paint, and one status update
// with its repaint (what happens every second while the window is open).
#include "clockwatcher.h"
#include "discoveredserver.h"
#include "pellumwindow.h"

#include "../../tests/netlan/privateloopback.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Showing the window starts a network search; keep it inside a namespace of
// its own. Without root the window is rendered without being shown.
bool enterPrivateNetwork()
{
    return NetLan::enterPrivateLoopback();
}

class FirstPaint : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

QList<DiscoveredServer> someServers(int count)
{
    QList<DiscoveredServer> list;
    for (int i = 0; i < count; ++i) {
        DiscoveredServer s;
        s.id = QStringLiteral("s%1").arg(i);
        s.name = QStringLiteral("Server %1").arg(i, 2, 10, QLatin1Char('0'));
        s.address = QStringLiteral("10.0.0.%1").arg(i + 1);
        s.stratum = 2;
        s.synced = s.accepting = true;
        s.answered = i % 3 != 0;
        list.append(s);
    }
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    const bool isolated = enterPrivateNetwork();
    QTemporaryDir scratch;
    qputenv("TAVRIN_PELLUM_ROOT", QFile::encodeName(scratch.path() + QStringLiteral("/root")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.path() + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch.path() + QStringLiteral("/data")));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Quorrel Two"));
    app.setApplicationName(QStringLiteral("Tavrin Pellum"));
    app.setQuitOnLastWindowClosed(false);

    QElapsedTimer clock;
    clock.start();
    ClockWatcher watcher;
    PellumWindow window(&watcher);
    const double constructedMs = clock.nsecsElapsed() / 1e6;
    double firstPaintMs = 0;
    if (isolated) {
        FirstPaint probe;
        window.installEventFilter(&probe);
        window.show();
        while (!probe.painted && clock.elapsed() < 10000)
            app.processEvents(QEventLoop::AllEvents, 5);
        firstPaintMs = clock.nsecsElapsed() / 1e6;
        window.removeEventFilter(&probe);
    } else {
        window.resize(window.minimumSize());
        window.grab();
        firstPaintMs = clock.nsecsElapsed() / 1e6;
    }

    const int rounds = 200;
    std::vector<double> updates;
    updates.reserve(rounds);
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer one;
        one.start();
        window.updateStatus();
        if (isolated)
            window.repaint();
        else
            window.grab();
        updates.push_back(one.nsecsElapsed() / 1e3);
    }

    const QList<DiscoveredServer> servers = someServers(20);
    std::vector<double> results;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer one;
        one.start();
        window.onFound(servers);
        results.push_back(one.nsecsElapsed() / 1e3);
    }

    std::printf("main window (%s)\n", isolated ? "shown, offscreen" : "rendered unshown");
    std::printf("  construction:                 %8.1f ms\n", constructedMs);
    std::printf("  start to first paint:         %8.1f ms\n", firstPaintMs);
    std::printf("  updateStatus + repaint:       %8.1f us (median of %d)\n", median(updates), rounds);
    std::printf("  discovery result, 20 servers: %8.1f us (median of 50)\n", median(results));
    return 0;
}
