#include "instmoduleheader.h"

#include "instappearanceselector.h"
#include "instdot.h"
#include "instfonts.h"
#include "insttheme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>

InstModuleHeader::InstModuleHeader(const QString& title, QWidget* parent)
    : QWidget(parent)
    , dot_(new InstDot(this, 8))
    , title_(new QLabel(title.toUpper(), this))
    , subtitle_(new QLabel(this))
    , selector_(new InstAppearanceSelector(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 6, 12, 7);
    row->setSpacing(8);

    dot_->setFixedSize(8, 8);
    title_->setFont(Inst::monoFont(12.5, 500, 2.0));
    title_->setProperty("tone", QByteArray("sec"));
    subtitle_->setFont(Inst::monoFont(11.5, 400));
    subtitle_->setProperty("tone", QByteArray("muted"));

    selector_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    selector_->setCursor(Qt::PointingHandCursor);

    row->addWidget(dot_);
    row->addWidget(title_);
    row->addStretch();
    row->addWidget(subtitle_);
    row->addSpacing(2);
    row->addWidget(selector_);

    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void InstModuleHeader::setSubtitle(const QString& text)
{
    subtitle_->setText(text);
}

void InstModuleHeader::paintEvent(QPaintEvent*)
{
    const Inst::Palette& pal = Inst::colors();
    QPainter p(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0.0, pal.deck);
    gradient.setColorAt(1.0, pal.panel);
    p.fillRect(rect(), gradient);
    p.fillRect(QRect(0, height() - 1, width(), 1), pal.bezel);
}
