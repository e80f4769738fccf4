#include "instappearanceselector.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QtMath>

namespace {

constexpr int kSegments = 3;

Inst::Appearance appearanceOf(int index)
{
    switch (index) {
    case 0: return Inst::Appearance::System;
    case 1: return Inst::Appearance::Light;
    default: return Inst::Appearance::Dark;
    }
}

QString toolTipOf(int index)
{
    switch (index) {
    case 0: return QStringLiteral("System default");
    case 1: return QStringLiteral("Light");
    default: return QStringLiteral("Dark");
    }
}

QPen iconPen(const QColor& color, Qt::PenCapStyle cap)
{
    return QPen(color, 1.2, Qt::SolidLine, cap, Qt::BevelJoin);
}

void drawSystemIcon(QPainter& p, const QPointF& c, const QColor& color)
{
    const double r = 4.4;
    p.setPen(iconPen(color, Qt::SquareCap));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r, r);
    QPainterPath half;
    half.moveTo(c.x(), c.y() - r);
    half.arcTo(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 90, 180);
    half.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(half);
}

void drawSunIcon(QPainter& p, const QPointF& c, const QColor& color)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(c, 2.5, 2.5);
    p.setPen(iconPen(color, Qt::RoundCap));
    for (int k = 0; k < 8; ++k) {
        const double angle = qDegreesToRadians(k * 45.0);
        const QPointF dir(qCos(angle), qSin(angle));
        p.drawLine(c + dir * 3.9, c + dir * 5.2);
    }
}

void drawMoonIcon(QPainter& p, const QPointF& c, const QColor& color)
{
    QPainterPath disc;
    disc.addEllipse(c, 4.6, 4.6);
    QPainterPath bite;
    bite.addEllipse(QPointF(c.x() + 2.5, c.y() - 2.0), 3.9, 3.9);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(disc.subtracted(bite));
}

} // namespace

InstAppearanceSelector::InstAppearanceSelector(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::TabFocus);
    updateAccessibleName();
}

void InstAppearanceSelector::setValue(Inst::Appearance value)
{
    if (value == value_)
        return;
    value_ = value;
    updateAccessibleName();
    update();
}

void InstAppearanceSelector::updateAccessibleName()
{
    setAccessibleName(QStringLiteral("Appearance: %1").arg(toolTipOf(int(value_))));
}

void InstAppearanceSelector::choose(Inst::Appearance chosen)
{
    if (chosen == value_)
        return;
    setValue(chosen);
    if (onChange_)
        onChange_(chosen);
}

void InstAppearanceSelector::setOnChange(ChangeHandler handler)
{
    onChange_ = std::move(handler);
}

QRectF InstAppearanceSelector::segmentRect(int index)
{
    return QRectF(2 + 23 * index, 2, 22, 16);
}

int InstAppearanceSelector::segmentAt(const QPointF& pos)
{
    for (int i = 0; i < kSegments; ++i) {
        const QRectF hit = segmentRect(i).adjusted(-0.5, -2, 0.5, 2);
        // Closed on every edge, so a shared edge goes to the lower index.
        if (pos.x() >= hit.left() && pos.x() <= hit.right() && pos.y() >= hit.top()
            && pos.y() <= hit.bottom())
            return i;
    }
    return -1;
}

QSize InstAppearanceSelector::sizeHint() const
{
    return QSize(72, 20);
}

bool InstAppearanceSelector::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = segmentAt(help->pos());
        if (index >= 0)
            QToolTip::showText(help->globalPos(), toolTipOf(index), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void InstAppearanceSelector::mousePressEvent(QMouseEvent* event)
{
    const int index = segmentAt(event->position());
    if (index < 0 || event->button() != Qt::LeftButton)
        return;
    choose(appearanceOf(index));
}

void InstAppearanceSelector::keyPressEvent(QKeyEvent* event)
{
    // The arrows step through the segments; Space goes round them.
    const int at = int(value_);
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        choose(appearanceOf(qMax(0, at - 1)));
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        choose(appearanceOf(qMin(kSegments - 1, at + 1)));
        break;
    case Qt::Key_Space:
        choose(appearanceOf((at + 1) % kSegments));
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void InstAppearanceSelector::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void InstAppearanceSelector::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void InstAppearanceSelector::paintEvent(QPaintEvent*)
{
    const Inst::Palette& pal = Inst::colors();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = pal.bezel;
    fill.setAlphaF(fill.alphaF() * 0.55);
    p.setPen(QPen(pal.bezel, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.setBrush(fill);
    p.drawRoundedRect(outline, outline.height() / 2, outline.height() / 2);
    if (hasFocus()) {
        // Focus ring: the pill's edge in the accent colour, drawn heavier.
        const QRectF ring = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
        p.setPen(QPen(pal.accent, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(ring, ring.height() / 2, ring.height() / 2);
    }

    for (int i = 0; i < kSegments; ++i) {
        const QRectF seg = segmentRect(i);
        QColor icon = pal.sec;
        if (appearanceOf(i) == value_) {
            p.setPen(Qt::NoPen);
            p.setBrush(pal.accent);
            p.drawRoundedRect(seg, seg.height() / 2, seg.height() / 2);
            icon = pal.panel;
        }
        const QPointF c = seg.center();
        if (i == 0)
            drawSystemIcon(p, c, icon);
        else if (i == 1)
            drawSunIcon(p, c, icon);
        else
            drawMoonIcon(p, c, icon);
    }
}
