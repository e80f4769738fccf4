#include "instscreen.h"

#include "insttheme.h"

#include <QPainter>

InstScreen::InstScreen(QWidget* parent)
    : QFrame(parent)
{
}

void InstScreen::paintEvent(QPaintEvent*)
{
    const Inst::Palette& pal = Inst::colors();
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(pal.canvas);
    p.setPen(QPen(pal.grid, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.drawRoundedRect(outline, 8, 8);
}
