#pragma once

#include <QFrame>
#include <QString>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;

// A framed group with a title strip; the owner fills bodyLayout().
class InstSection : public QFrame {
    Q_OBJECT
public:
    explicit InstSection(const QString& title, QWidget* parent = nullptr);

    // Appends a widget at the right end of the title strip.
    void addHeaderWidget(QWidget* widget);

    QWidget* header() const { return header_; }
    QWidget* body() const { return body_; }
    QVBoxLayout* bodyLayout() const { return bodyLayout_; }
    QLabel* titleLabel() const { return title_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateFade();

    QWidget* header_;
    QHBoxLayout* headerRow_;
    QLabel* title_;
    QWidget* body_;
    QVBoxLayout* bodyLayout_;
};
