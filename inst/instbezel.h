#pragma once

#include <QFrame>
#include <QString>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;

// A small framed group with a caption; the owner fills both rows.
class InstBezel : public QFrame {
    Q_OBJECT
public:
    explicit InstBezel(const QString& title, QWidget* parent = nullptr);

    QHBoxLayout* headerLayout() const { return headerRow_; }
    QVBoxLayout* contentLayout() const { return content_; }
    QLabel* captionLabel() const { return caption_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QHBoxLayout* headerRow_;
    QLabel* caption_;
    QVBoxLayout* content_;
};
