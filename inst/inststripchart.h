#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QPolygonF>
#include <QString>
#include <QVector>
#include <QWidget>

#include <limits>

// A painted strip chart of a value in milliseconds over wall-clock time: an
// upper lane for the value with a shaded band around zero, a lower lane for a
// second figure, shaded spans where nothing was heard and vertical marks for
// events. Left and Right move a cursor from sample to sample.
class InstStripChart : public QWidget {
    Q_OBJECT
public:
    struct Sample {
        qint64 utcMs = 0;
        double value = 0.0;   // upper lane, ms
        double second = std::numeric_limits<double>::quiet_NaN(); // lower lane, ms; NaN: none
        bool breakBefore = false; // not joined to the sample before it
    };
    struct Span {
        qint64 fromUtcMs = 0;
        qint64 toUtcMs = 0;
    };
    struct Mark {
        qint64 utcMs = 0;
        QColor color;   // fixed colour of the event (state lamps do not follow the theme)
        bool strong = false; // drawn across the whole chart, with its label
        QString label;
    };

    explicit InstStripChart(QWidget* parent = nullptr);

    void setTimeRange(qint64 fromUtcMs, qint64 toUtcMs);
    void setData(const QVector<Sample>& samples, const QVector<Span>& gaps, const QVector<Mark>& marks);
    // Half width of the shaded band around zero in the upper lane, and its name.
    void setBand(double halfWidthMs, const QString& label);
    void setLaneNames(const QString& upper, const QString& lower);
    // Legend entries for the shaded spans, the marks and the strong marks.
    void setLegendNames(const QString& gap, const QString& mark, const QString& strongMark);

    // Shown while there is no sample in the range.
    void setEmptyText(const QString& text);

    const QVector<Sample>& samples() const { return samples_; }
    int cursorIndex() const { return cursor_; }
    // -1 hides the cursor.
    void setCursorIndex(int index);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Value axis texts: "250 ms", "1.5 s".
    static QString axisText(double ms);
    // The time axis ticks in [fromUtcMs, toUtcMs], `stepMs` apart on the
    // local clock: whole local minutes and hours, also on the day the clocks
    // change for daylight saving.
    static QVector<qint64> timeTicks(qint64 fromUtcMs, qint64 toUtcMs, qint64 stepMs);

signals:
    void cursorMoved(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    struct Lane {
        QRectF rect;
        double lo = 0.0;
        double hi = 1.0;
        double step = 1.0;
        double y(double v) const { return rect.bottom() - (v - lo) / (hi - lo) * rect.height(); }
    };
    // Recomputes scales and the thinned traces; colours are read at paint time.
    void rebuild();
    double xOf(qint64 utcMs) const;
    void thin(bool second, QVector<QPolygonF>& out) const;
    void paintLane(QPainter& p, const Lane& lane, const QString& name, bool band) const;
    void paintTimeAxis(QPainter& p) const;
    // Draws a text anchored at `at` as `align` says; returns its width.
    double drawLabel(QPainter& p, const QPointF& at, const QString& text, Qt::Alignment align) const;

    QFont axisFont_;
    QFont nameFont_;
    qint64 from_ = 0;
    qint64 to_ = 1;
    QVector<Sample> samples_;
    QVector<Span> gaps_;
    QVector<Mark> marks_;
    double band_ = 0.0;
    QString bandLabel_;
    QString upperName_;
    QString lowerName_;
    QString emptyText_;
    QString gapName_;
    QString markName_;
    QString strongMarkName_;
    int cursor_ = -1;

    bool dirty_ = true;
    bool dense_ = false;
    QRectF plot_;
    Lane upper_;
    Lane lower_;
    QVector<QPolygonF> upperLines_;
    QVector<QPolygonF> lowerLines_;
    QVector<qint64> ticks_;
    mutable QHash<QString, QStaticText> labels_;
};
