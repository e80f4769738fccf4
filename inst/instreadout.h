#pragma once

#include <QString>
#include <QWidget>

class InstLed;
class QLabel;

// One captioned value of a readout bar: digits when numeric, text otherwise.
class InstReadout : public QWidget {
    Q_OBJECT
public:
    explicit InstReadout(const QString& title, QWidget* parent = nullptr);

    void setValue(const QString& value, const QString& unit = QString());
    // Shows the digits dimmed, as a stand-in until a value is known.
    void setPlaceholder(const QString& digits);
    // Tone of the value label, as Inst::setTone.
    void setTone(const char* tone);

    // True when the value consists of characters the digits can show.
    static bool showsAsDigits(const QString& value);

    InstLed* led() const { return led_; }
    QLabel* captionLabel() const { return caption_; }
    QLabel* valueLabel() const { return value_; }
    QLabel* unitLabel() const { return unit_; }
    bool isFirst() const { return first_; }
    void setFirst(bool first);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
    QLabel* caption_;
    InstLed* led_;
    QLabel* value_;
    QLabel* unit_;
    bool first_ = false;
};
