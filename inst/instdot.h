#pragma once

#include <QColor>
#include <QWidget>

// A round pilot light; green until given a colour.
class InstDot : public QWidget {
    Q_OBJECT
public:
    explicit InstDot(QWidget* parent = nullptr, int diameter = 8);

    int diameter() const { return diameter_; }
    QColor color() const { return color_; }
    bool hasColor() const { return hasColor_; }
    void setColor(const QColor& color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int diameter_;
    QColor color_;
    bool hasColor_ = false;
};
