#include "instreadout.h"

#include "instcaption.h"
#include "instfonts.h"
#include "instled.h"
#include "insttheme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

InstReadout::InstReadout(const QString& title, QWidget* parent)
    : QWidget(parent)
    , title_(title)
    , caption_(Inst::makeCaption(title.toUpper(), this))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 9, 12, 9);
    column->setSpacing(4);
    column->addWidget(caption_);

    auto* valueRow = new QWidget(this);
    auto* row = new QHBoxLayout(valueRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);

    led_ = new InstLed(34, valueRow);
    value_ = new QLabel(valueRow);
    value_->setFont(Inst::monoFont(15, 500));
    value_->setProperty("tone", QByteArray("sec"));
    value_->hide();
    unit_ = new QLabel(valueRow);
    unit_->setFont(Inst::uiFont(11.5, 400));
    unit_->setProperty("tone", QByteArray("muted"));

    row->addWidget(led_, 0, Qt::AlignBottom);
    row->addWidget(value_, 0, Qt::AlignVCenter);
    row->addWidget(unit_, 0, Qt::AlignBottom);
    row->addStretch();
    valueRow->setFixedHeight(led_->sizeHint().height());

    column->addWidget(valueRow);
    setAccessibleName(title_);
}

bool InstReadout::showsAsDigits(const QString& value)
{
    if (value.isEmpty())
        return false;
    for (QChar ch : value) {
        const bool ok = ch.isDigit() || ch == QLatin1Char('.') || ch == QLatin1Char(':')
            || ch == QLatin1Char('-') || ch == QChar(0x2212) || ch == QLatin1Char(' ');
        if (!ok)
            return false;
    }
    return true;
}

void InstReadout::setValue(const QString& value, const QString& unit)
{
    if (showsAsDigits(value)) {
        value_->hide();
        led_->show();
        led_->setDim(false);
        led_->setText(value);
        unit_->setText(unit);
        unit_->setVisible(!unit.isEmpty());
    } else {
        led_->hide();
        value_->setText(value);
        value_->show();
        unit_->clear();
        unit_->hide();
    }
    // The value may be painted digits: say in words what the readout shows.
    QString spoken = title_ + QLatin1Char(' ') + value;
    if (showsAsDigits(value) && !unit.isEmpty())
        spoken += QLatin1Char(' ') + unit;
    setAccessibleName(spoken);
}

void InstReadout::setPlaceholder(const QString& digits)
{
    value_->hide();
    unit_->hide();
    led_->show();
    led_->setText(digits);
    led_->setDim(true);
    setAccessibleName(tr("%1 not measured").arg(title_));
}

void InstReadout::setTone(const char* tone)
{
    Inst::setTone(value_, tone);
}

void InstReadout::setFirst(bool first)
{
    if (first == first_)
        return;
    first_ = first;
    update();
}

void InstReadout::paintEvent(QPaintEvent*)
{
    if (first_)
        return;
    QPainter p(this);
    p.fillRect(QRect(0, 0, 1, height()), Inst::colors().bezel);
}
