#pragma once

#include <QFrame>
#include <QString>

class InstReadout;
class QHBoxLayout;

// A well holding readouts side by side, divided by hairlines.
class InstReadoutBar : public QFrame {
    Q_OBJECT
public:
    explicit InstReadoutBar(QWidget* parent = nullptr);

    InstReadout* addReadout(const QString& title, int stretch = 1);
    int count() const { return count_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QHBoxLayout* row_;
    int count_ = 0;
};
