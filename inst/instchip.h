#pragma once

#include <QString>
#include <QWidget>

// A pill-shaped label tinted by its kind.
class InstChip : public QWidget {
    Q_OBJECT
public:
    enum Kind : int {
        Go = 0,
        Info = 1,
        Warn = 2,
        Bad = 3,
        Sec = 4,
    };

    InstChip(const QString& text, Kind kind, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    Kind kind() const { return kind_; }
    void setKind(Kind kind);
    // The palette colour the chip paints in (unknown kinds read as Sec).
    QColor kindColor() const;

    QSize sizeHint() const override;
    // A chip short of room cuts its text in the middle, whole in the tooltip.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString text_;
    Kind kind_;
};
