#include "instsection.h"

#include "instfonts.h"
#include "insttheme.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

InstSection::InstSection(const QString& title, QWidget* parent)
    : QFrame(parent)
    , header_(new QWidget(this))
    , headerRow_(new QHBoxLayout(header_))
    , title_(new QLabel(title.toUpper(), header_))
    , body_(new QWidget(this))
    , bodyLayout_(new QVBoxLayout(body_))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(0);

    header_->setMinimumHeight(34);
    headerRow_->setContentsMargins(11, 6, 8, 6);
    headerRow_->setSpacing(6);
    title_->setFont(Inst::monoFont(11.5, 600, 1.4));
    title_->setProperty("tone", QByteArray("sec"));
    headerRow_->addWidget(title_);
    headerRow_->addStretch();

    bodyLayout_->setContentsMargins(11, 10, 11, 12);
    bodyLayout_->setSpacing(8);

    column->addWidget(header_);
    column->addWidget(body_, 1);
}

void InstSection::addHeaderWidget(QWidget* widget)
{
    headerRow_->addWidget(widget);
}

void InstSection::paintEvent(QPaintEvent*)
{
    const Inst::Palette& pal = Inst::colors();
    const double pen = 1.0;
    const QRectF outline = QRectF(rect()).adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2);
    QPainterPath path;
    path.addRoundedRect(outline, 6, 6);

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipPath(path);
    p.fillRect(rect(), pal.section);
    // The title strip follows the header widget, however tall it grows.
    p.fillRect(QRect(0, 0, width(), header_->geometry().bottom() + 1), pal.deck);
    p.setClipping(false);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(pal.bezel, pen, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.drawPath(path);
}

void InstSection::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        updateFade();
    QFrame::changeEvent(event);
}

void InstSection::updateFade()
{
    if (isEnabled()) {
        setGraphicsEffect(nullptr);
    } else {
        auto* effect = new QGraphicsOpacityEffect(this);
        effect->setOpacity(0.38);
        setGraphicsEffect(effect);
    }
}
