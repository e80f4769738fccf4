#include "instdot.h"

#include "insttheme.h"

#include <QPainter>

InstDot::InstDot(QWidget* parent, int diameter)
    : QWidget(parent)
    , diameter_(diameter)
{
}

void InstDot::setColor(const QColor& color)
{
    color_ = color;
    hasColor_ = true;
    update();
}

QSize InstDot::sizeHint() const
{
    return QSize(diameter_, diameter_);
}

void InstDot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(hasColor_ ? color_ : Inst::colors().led);
    p.drawEllipse(QRectF(0, 0, diameter_, diameter_));
}
