// Shows the clock alert window in a chosen situation, for a look by eye or a
// screenshot. Everything stays on the loopback interface.
//   alert-demo [accept|sync|none|menu] [seconds]   (menu: the tray's menu instead)
//   alert-demo lamps FILE     (writes every lamp, lit and dimmed, large)

#include "alertwindow.h"
#include "clienttray.h"
#include "watcherstage.h"

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QTemporaryDir settingsDir;
    WatcherStage::useScratchSettings(settingsDir);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1, QStringLiteral("accept"));
    const int seconds = args.value(2, QStringLiteral("0")).toInt();

    if (mode == QLatin1String("lamps")) {
        // Five states, lit and dimmed, on a dark and a light ground, at 8x.
        QImage sheet(5 * 144, 4 * 144, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&sheet);
        for (int row = 0; row < 4; ++row) {
            const bool lightGround = row >= 2;
            painter.fillRect(0, row * 144, sheet.width(), 144,
                             lightGround ? QColor(244, 244, 245) : QColor(7, 9, 12));
            for (int col = 0; col < 5; ++col) {
                QPixmap lamp = ClientTray::paintLamp(static_cast<ClockState>(col), row % 2 == 0,
                                                           lightGround, 16, 8.0);
                lamp.setDevicePixelRatio(1.0); // draw it at its device size
                painter.drawPixmap(col * 144 + 8, row * 144 + 8, lamp);
            }
        }
        painter.end();
        return sheet.save(args.value(2)) ? 0 : 1;
    }

    WatcherStage::Stage stage;
    bool staged = false;
    if (mode == QLatin1String("sync"))
        staged = stage.toWrongServerDisagrees();
    else if (mode == QLatin1String("none") || mode == QLatin1String("menu"))
        staged = stage.toWrongNoServer();
    else
        staged = stage.toWrongServerAgrees();
    if (!staged) {
        std::fprintf(stderr, "could not stage the clock\n");
        return 1;
    }

    ClientTray tray(stage.watcher.get(), nullptr);
    AlertWindow window(stage.watcher.get());
    if (mode == QLatin1String("menu")) {
        tray.contextMenu()->popup(QPoint(40, 40));
    } else {
        window.move(40, 40);
        window.show();
    }
    if (seconds > 0)
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}
