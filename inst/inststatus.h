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
    // Read out before the text, e.g. "State" gives "State: In sync, Lab clock".
    void setAccessibleLabel(const QString& label);

    InstChip* mainChip() const { return main_; }
    InstChip* detailChip() const { return detail_; }

private:
    void updateAccessibleName();

    QString text_;
    QString accessibleLabel_;
    InstChip* main_;
    InstChip* detail_;
};
