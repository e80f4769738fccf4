#pragma once

#include "insttheme.h"

#include <QRectF>
#include <QWidget>

#include <functional>

// Three-way switch: follow the system, light, dark. Reports clicks only.
class InstAppearanceSelector : public QWidget {
    Q_OBJECT
public:
    using ChangeHandler = std::function<void(Inst::Appearance)>;

    explicit InstAppearanceSelector(QWidget* parent = nullptr);

    Inst::Appearance value() const { return value_; }
    // Shows a value without reporting it.
    void setValue(Inst::Appearance value);
    void setOnChange(ChangeHandler handler);

    // Segment under a point (0 system, 1 light, 2 dark), or -1.
    static int segmentAt(const QPointF& pos);
    static QRectF segmentRect(int index);

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Shows the choice and tells the handler, as a click or a key does.
    void choose(Inst::Appearance chosen);
    void updateAccessibleName();

    Inst::Appearance value_ = Inst::Appearance::Dark;
    ChangeHandler onChange_;
};
