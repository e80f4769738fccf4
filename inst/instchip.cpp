#include "instchip.h"

#include "insttheme.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>

InstChip::InstChip(const QString& text, Kind kind, QWidget* parent)
    : QWidget(parent)
    , text_(text)
    , kind_(kind)
{
    QFont f = QApplication::font();
    f.setPointSizeF(8.25);
    f.setWeight(QFont::DemiBold);
    setFont(f);
    // Grows no wider than its text; shrinks when a long one would widen the window.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleName(text_);
}

void InstChip::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    setAccessibleName(text_);
    setToolTip(width() < sizeHint().width() ? text_ : QString());
    updateGeometry();
    update();
}

void InstChip::setKind(Kind kind)
{
    if (kind == kind_)
        return;
    kind_ = kind;
    update();
}

QColor InstChip::kindColor() const
{
    const Inst::Palette& pal = Inst::colors();
    switch (static_cast<int>(kind_)) {
    case Go: return pal.led;
    case Info: return pal.accent;
    case Warn: return pal.amber;
    case Bad: return pal.red;
    default: return pal.sec;
    }
}

QSize InstChip::sizeHint() const
{
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(text_) + 16, fm.height() + 4);
}

QSize InstChip::minimumSizeHint() const
{
    const QSize full = sizeHint();
    return QSize(qMin(full.width(), QFontMetrics(font()).horizontalAdvance(QStringLiteral("MMMM\u2026")) + 16), full.height());
}

void InstChip::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    setToolTip(width() < sizeHint().width() ? text_ : QString());
}

void InstChip::paintEvent(QPaintEvent*)
{
    const QColor k = kindColor();
    QColor face = k;
    face.setAlphaF(k.alphaF() * 0.18);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    const double radius = height() / 2.0;
    p.drawRoundedRect(QRectF(rect()), radius, radius);
    p.setPen(k);
    p.setFont(font());
    const bool cut = width() < sizeHint().width();
    p.drawText(rect(), Qt::AlignCenter, cut ? QFontMetrics(font()).elidedText(text_, Qt::ElideMiddle, width() - 16) : text_);
}
