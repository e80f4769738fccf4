#include "insttoggle.h"

#include "instfonts.h"
#include "insttheme.h"

#include <QFontMetrics>
#include <QPainter>

InstToggle::InstToggle(const QString& text, QWidget* parent)
    : QCheckBox(text, parent)
{
    setFont(Inst::uiFont(12.5, 500));
    setCursor(Qt::PointingHandCursor);
}

QSize InstToggle::sizeHint() const
{
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(text()) + 45, qMax(fm.height(), 20));
}

bool InstToggle::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void InstToggle::paintEvent(QPaintEvent*)
{
    const Inst::Palette& pal = Inst::colors();
    const int y0 = (height() - 20) / 2;
    const bool on = isChecked();

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        p.setOpacity(0.4);
    p.setPen(Qt::NoPen);
    p.setBrush(on ? pal.accent : pal.bezel);
    p.drawRoundedRect(QRectF(0, y0, 34, 20), 10, 10);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(on ? 16 : 2, y0 + 2, 16, 16));

    p.setPen(pal.pri);
    p.setFont(font());
    p.drawText(QRect(43, 0, qMax(0, width() - 43), height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}
