#pragma once

#include <QString>
#include <QWidget>

// A row of seven-segment digits painted in the current palette.
class InstLed : public QWidget {
    Q_OBJECT
public:
    enum State : int {
        Go = 0,
        Warn = 1,
        Bad = 2,
    };

    explicit InstLed(int digitHeight, QWidget* parent = nullptr);

    int digitHeight() const { return digitHeight_; }
    QString text() const { return text_; }
    void setText(const QString& text);
    QString sizingText() const { return sizingText_; }
    void setSizingText(const QString& text);
    State state() const { return state_; }
    void setState(State state);
    bool dim() const { return dim_; }
    void setDim(bool dim);
    // What the digits stand for ("Clock"); screen readers hear it before the digits.
    void setAccessibleLabel(const QString& label);

    // Width in px the digits of text take at the given digit height.
    static double textWidth(const QString& text, int digitHeight);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateAccessibleName();

    int digitHeight_;
    QString accessibleLabel_;
    QString text_;
    QString sizingText_;
    State state_ = Go;
    bool dim_ = false;
};
