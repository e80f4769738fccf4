// Paint and theme costs of the instrument toolkit; prints one line a figure.
#include "inst.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>

namespace {

void report(const char* what, int rounds, const std::function<void()>& work)
{
    work();  // warm caches and lazy polish
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        work();
    const double us = double(timer.nsecsElapsed()) / 1000.0 / rounds;
    std::printf("%-44s %10.1f us  (%d rounds)\n", what, us, rounds);
}

void renderInto(QWidget& widget, QImage& image)
{
    image.fill(Qt::black);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Inst::ensureFonts();

    InstLed led(34);
    led.setText("12:34:56");
    led.resize(led.sizeHint());
    QImage ledImage(led.size(), QImage::Format_ARGB32_Premultiplied);
    report("InstLed paint, 8 glyphs at 34 px", 2000, [&] { renderInto(led, ledImage); });

    InstLed big(64);
    big.setText("-88:88.8");
    big.resize(big.sizeHint());
    QImage bigImage(big.size(), QImage::Format_ARGB32_Premultiplied);
    report("InstLed paint, 8 glyphs at 64 px", 1000, [&] { renderInto(big, bigImage); });

    InstReadoutBar bar;
    bar.addReadout("Offset")->setValue("-0.042", "s");
    bar.addReadout("Last sync")->setValue("12:34:56");
    bar.addReadout("Since")->setValue("no server");
    bar.addReadout("Drift")->setPlaceholder("--.--");
    bar.resize(700, bar.sizeHint().height());
    bar.layout()->activate();
    QImage barImage(bar.size(), QImage::Format_ARGB32_Premultiplied);
    report("InstReadoutBar paint, 4 readouts", 500, [&] { renderInto(bar, barImage); });

    report("Inst::styleSheet()", 2000, [] {
        volatile qsizetype n = Inst::styleSheet().size();
        (void)n;
    });

    QWidget board;
    auto* layout = new QVBoxLayout(&board);
    for (int i = 0; i < 20; ++i) {
        auto* label = new QLabel(QStringLiteral("label %1").arg(i), &board);
        Inst::setTone(label, i % 2 ? "sec" : "muted");
        layout->addWidget(label);
        auto* button = new QPushButton(QStringLiteral("button %1").arg(i), &board);
        Inst::styleButton(button, static_cast<Inst::ButtonRole>(i % 6));
        layout->addWidget(button);
    }
    layout->addWidget(new QSpinBox(&board));
    layout->addWidget(new InstToggle("toggle", &board));
    board.show();
    bool dark = true;
    report("theme switch, 42 widgets (setDark+applyTheme)", 50, [&] {
        dark = !dark;
        Inst::setDark(dark);
        Inst::applyTheme(&board);
        QCoreApplication::processEvents();
    });
    return 0;
}
