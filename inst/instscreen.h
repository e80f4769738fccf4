#pragma once

#include <QFrame>

// A dark inset pane; the owner lays out its children.
class InstScreen : public QFrame {
    Q_OBJECT
public:
    explicit InstScreen(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
