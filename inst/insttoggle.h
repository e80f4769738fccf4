#pragma once

#include <QCheckBox>
#include <QString>

// A check box drawn as a sliding switch.
class InstToggle : public QCheckBox {
    Q_OBJECT
public:
    explicit InstToggle(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    bool hitButton(const QPoint& pos) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
