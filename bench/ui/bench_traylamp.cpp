// How long the tray lamp takes to paint. The tray repaints it once a second
// and at every blink phase, so it has to stay far below a millisecond.

#include "clienttray.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

namespace {

template <typename Paint>
double microsecondsPerCall(int rounds, Paint paint)
{
    for (int i = 0; i < rounds / 10; ++i)
        paint(i);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < rounds; ++i)
        paint(i);
    return double(clock.nsecsElapsed()) / 1000.0 / rounds;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                     : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int rounds = 5000;
    qint64 sink = 0;
    const ClockState states[] = {ClockState::None, ClockState::Sync, ClockState::Lost,
                                 ClockState::Off, ClockState::Wrong};

    for (double scale : {1.0, 2.0, 3.0}) {
        const double us = microsecondsPerCall(rounds, [&](int i) {
            const QPixmap p = ClientTray::paintLamp(states[i % 5], i % 2 == 0, i % 3 == 0, 16, scale);
            sink += p.width();
        });
        std::printf("paintLamp 16 px at %.0fx: %.1f us per lamp\n", scale, us);
    }
    // What one refresh hands the platform: an icon holding both pixmaps.
    const double iconUs = microsecondsPerCall(rounds, [&](int i) {
        QIcon icon;
        icon.addPixmap(ClientTray::paintLamp(states[i % 5], true, false, 16, 1.0));
        icon.addPixmap(ClientTray::paintLamp(states[i % 5], true, false, 16, 2.0));
        sink += icon.availableSizes().size();
    });
    std::printf("icon with 1x and 2x lamps: %.1f us per refresh\n", iconUs);
    std::printf("(checksum %lld)\n", static_cast<long long>(sink));
    return 0;
}
