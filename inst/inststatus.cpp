#include "inststatus.h"

#include <QHBoxLayout>

InstStatus::InstStatus(QWidget* parent)
    : QWidget(parent)
    , main_(new InstChip(QString(), InstChip::Sec, this))
    , detail_(new InstChip(QString(), InstChip::Info, this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(7);
    row->addWidget(main_);
    row->addWidget(detail_);
    row->addStretch();
    detail_->hide();
}

void InstStatus::setText(const QString& text)
{
    text_ = text;
    static const QString separator = QStringLiteral(" - ");
    const qsizetype at = text.indexOf(separator);
    const QString mainPart = at < 0 ? text : text.left(at);
    const QString detailPart = at < 0 ? QString() : text.mid(at + separator.size());
    main_->setText(mainPart.toUpper());
    detail_->setText(detailPart.toUpper());
    // Spoken in the text's own case: upper case would be spelled letter by letter.
    main_->setAccessibleName(mainPart);
    detail_->setAccessibleName(detailPart);
    detail_->setVisible(!detailPart.isEmpty());
    updateAccessibleName();
}

void InstStatus::setAccessibleLabel(const QString& label)
{
    accessibleLabel_ = label;
    updateAccessibleName();
}

void InstStatus::updateAccessibleName()
{
    // In the text's own case: upper-case chips would be spelled out letter by letter.
    QString spoken = text_;
    spoken.replace(QStringLiteral(" - "), QStringLiteral(", "));
    setAccessibleName(accessibleLabel_.isEmpty() ? spoken : accessibleLabel_ + QStringLiteral(": ") + spoken);
}

void InstStatus::setKind(InstChip::Kind kind)
{
    main_->setKind(kind);
}

void InstStatus::setDetailKind(InstChip::Kind kind)
{
    detail_->setKind(kind);
}
