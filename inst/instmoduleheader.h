#pragma once

#include <QString>
#include <QWidget>

class InstAppearanceSelector;
class InstDot;
class QLabel;

// The strip across the top of a window: dot, title, subtitle, appearance switch.
class InstModuleHeader : public QWidget {
    Q_OBJECT
public:
    explicit InstModuleHeader(const QString& title, QWidget* parent = nullptr);

    void setSubtitle(const QString& text);

    InstDot* dot() const { return dot_; }
    InstAppearanceSelector* appearanceSelector() const { return selector_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* subtitleLabel() const { return subtitle_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    InstDot* dot_;
    QLabel* title_;
    QLabel* subtitle_;
    InstAppearanceSelector* selector_;
};
