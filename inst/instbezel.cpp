#include "instbezel.h"

#include "instcaption.h"
#include "insttheme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

InstBezel::InstBezel(const QString& title, QWidget* parent)
    : QFrame(parent)
    , headerRow_(new QHBoxLayout)
    , caption_(Inst::makeCaption(title.toUpper(), this))
    , content_(new QVBoxLayout)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 8, 10, 9);
    column->setSpacing(6);
    headerRow_->setSpacing(12);
    headerRow_->addWidget(caption_);
    content_->setSpacing(6);
    column->addLayout(headerRow_);
    column->addLayout(content_);
}

void InstBezel::paintEvent(QPaintEvent*)
{
    const Inst::Palette& pal = Inst::colors();
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(pal.section);
    p.drawRoundedRect(outline, 5, 5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(pal.bezel, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.drawRoundedRect(outline, 5, 5);
}
