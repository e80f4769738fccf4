#pragma once

#include "instchip.h"

#include <QString>
#include <QWidget>

// A status text shown as a main chip and, after " - ", a detail chip.
class InstStatus : public QWidget {
    Q_OBJECT
public:
    explicit InstStatus(QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    void setKind(InstChip::Kind kind);
    void setDetailKind(InstChip::Kind kind);

    InstChip* mainChip() const { return main_; }
    InstChip* detailChip() const { return detail_; }

private:
    QString text_;
    InstChip* main_;
    InstChip* detail_;
};
