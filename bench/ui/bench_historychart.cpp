// How long one frame of the clock history chart takes with a full day of
// samples (8,640 probes), beside a plain QPainter::drawPolyline of the same
// points on the same surface. Goal: under 5 ms a frame.

#include "clockwatcher.h"
#include "historywindow.h"
#include "inst.h"
#include "plausibleday.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures {
    double median;
    double best; // the least disturbed by whatever else the machine runs
};

template <typename Frame>
Figures frameMs(int rounds, Frame frame)
{
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        frame();
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                     : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ClockWatcher watcher;
    PlausibleDay::fill(*watcher.history(), watcher.history()->nowMs());
    HistoryWindow window(&watcher);
    window.resize(880, 560);
    window.setRange(HistoryWindow::Range::Day);
    window.show();
    QCoreApplication::processEvents();
    InstStripChart* chart = window.chart();
    const QVector<InstStripChart::Sample>& samples = chart->samples();
    std::printf("samples in the chart: %lld, chart %dx%d px\n", qlonglong(samples.size()),
                chart->width(), chart->height());

    const Figures refresh = frameMs(50, [&] { window.refresh(); });

    for (double dpr : {1.0, 1.5}) {
        QImage surface(chart->size() * dpr, QImage::Format_ARGB32_Premultiplied);
        surface.setDevicePixelRatio(dpr);
        const Figures firstPaint = frameMs(50, [&] {
            window.refresh();
            surface.fill(Qt::transparent);
            chart->render(&surface);
        });
        const Figures chart_ = frameMs(200, [&] {
            surface.fill(Qt::transparent);
            chart->render(&surface);
        });
        // The plain way: every point joined, antialiased, nothing else drawn.
        QPolygonF points;
        const qint64 from = samples.constFirst().utcMs;
        const qint64 span = std::max<qint64>(1, samples.constLast().utcMs - from);
        for (const InstStripChart::Sample& s : samples)
            points.append(QPointF(60.0 + double(s.utcMs - from) / double(span) * (chart->width() - 70),
                                  chart->height() / 2.0 - s.value * 0.1));
        const Figures plain = frameMs(200, [&] {
            surface.fill(Qt::transparent);
            QPainter p(&surface);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(Inst::colors().accent, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(points);
        });
        std::printf("scale %.1f, ms a frame (median / best of 200):\n"
                    "  chart             %6.2f / %6.2f\n"
                    "  chart, new data   %6.2f / %6.2f\n"
                    "  plain drawPolyline of %lld points %6.2f / %6.2f\n",
                    dpr, chart_.median, chart_.best, firstPaint.median, firstPaint.best,
                    qlonglong(points.size()), plain.median, plain.best);
    }
    std::printf("refresh alone (read the record, build the chart's data): %.2f / %.2f ms\n",
                refresh.median, refresh.best);
    return 0;
}
