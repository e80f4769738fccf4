#include "insttoggle.h"

#include "instfonts.h"
#include "insttheme.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>

InstToggle::InstToggle(const QString& text, QWidget* parent)
    : QCheckBox(text, parent)
{
    setFont(Inst::uiFont(12.5, 500));
    setCursor(Qt::PointingHandCursor);
    // Reached by Tab like the buttons; a click leaves no focus ring behind.
    setFocusPolicy(Qt::TabFocus);
}

QSize InstToggle::sizeHint() const
{
    const QFontMetrics fm(font());
    // Three pixels beyond the text leave room for the focus ring.
    return QSize(fm.horizontalAdvance(text()) + 48, qMax(fm.height(), 20));
}

bool InstToggle::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void InstToggle::keyPressEvent(QKeyEvent* event)
{
    // Left means off and Right on, as the knob moves; Space is the button's own.
    const int key = event->key();
    if (key == Qt::Key_Left || key == Qt::Key_Right) {
        if (isChecked() != (key == Qt::Key_Right))
            click();
        event->accept();
        return;
    }
    QCheckBox::keyPressEvent(event);
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

    if (hasFocus()) {
        // The focus ring goes round the label, which the track leaves room for.
        const double right = qMin<double>(width(), 43 + QFontMetrics(font()).horizontalAdvance(text()) + 4);
        p.setOpacity(1.0);
        p.setPen(QPen(pal.accent, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(QPointF(39.75, 0.75), QPointF(right - 0.75, height() - 0.75)), 4, 4);
    }
}
