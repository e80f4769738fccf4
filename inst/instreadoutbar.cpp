#include "instreadoutbar.h"

#include "instreadout.h"
#include "insttheme.h"

#include <QHBoxLayout>
#include <QPainter>

InstReadoutBar::InstReadoutBar(QWidget* parent)
    : QFrame(parent)
    , row_(new QHBoxLayout(this))
{
    row_->setContentsMargins(1, 1, 1, 1);
    row_->setSpacing(0);
}

InstReadout* InstReadoutBar::addReadout(const QString& title, int stretch)
{
    auto* readout = new InstReadout(title, this);
    readout->setFirst(count_ == 0);
    ++count_;
    row_->addWidget(readout, stretch);
    return readout;
}

void InstReadoutBar::paintEvent(QPaintEvent*)
{
    const Inst::Palette& pal = Inst::colors();
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(pal.well);
    p.setPen(QPen(pal.grid, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.drawRoundedRect(outline, 8, 8);
}
