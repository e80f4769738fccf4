// Shows the clock history window over a plausible day, for a look by eye or a
// screenshot. No probe goes out: the watcher has no server.
//   history-demo [light|dark] [10m|1h|24h] [cursor steps back from the end]

#include "clockwatcher.h"
#include "historywindow.h"
#include "inst.h"
#include "plausibleday.h"
#include "watcherstage.h"

#include <QApplication>
#include <QDateTime>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    QTemporaryDir settingsDir;
    WatcherStage::useScratchSettings(settingsDir);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    Inst::setAppearance(args.value(1) == QLatin1String("light") ? Inst::Appearance::Light : Inst::Appearance::Dark);
    Inst::setDark(Inst::wantsDark());

    ClockWatcher watcher;
    PlausibleDay::fill(*watcher.history(), watcher.history()->nowMs());
    HistoryWindow window(&watcher);
    window.findChild<InstModuleHeader*>()->setSubtitle(QStringLiteral("Atlas"));
    const QString range = args.value(2, QStringLiteral("1h"));
    window.setRange(range == QLatin1String("10m") ? HistoryWindow::Range::TenMinutes
                    : range == QLatin1String("24h") ? HistoryWindow::Range::Day
                                                    : HistoryWindow::Range::Hour);
    window.show();
    const int back = args.value(3, QStringLiteral("-1")).toInt();
    if (back >= 0)
        window.chart()->setCursorIndex(int(window.chart()->samples().size()) - 1 - back);
    return app.exec();
}
