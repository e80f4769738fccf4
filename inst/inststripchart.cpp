#include "inststripchart.h"

#include "instfonts.h"
#include "insttheme.h"

#include <QAccessibleWidget>
#include <QDateTime>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStaticText>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLegendHeight = 18.0;
constexpr double kTimeAxisHeight = 18.0;
constexpr double kLaneGap = 22.0;
constexpr double kUpperShare = 0.66;
// Below this many samples per pixel each sample also gets a dot.
constexpr double kDotsBelowDensity = 1.0 / 6.0;
// Above this many samples per pixel the traces are filled outlines.
constexpr double kDenseFrom = 0.5;
constexpr double kUpperPen = 1.5;
constexpr double kLowerPen = 1.2;

QColor withAlpha(QColor c, double alpha)
{
    c.setAlphaF(c.alphaF() * alpha);
    return c;
}

// 1, 2 or 5 times a power of ten, at least `raw`.
double niceStep(double raw)
{
    if (!(raw > 0.0))
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw)
            return m * power;
    }
    return 10.0 * power;
}


// A horizontal (h 0) or vertical (w 0) hairline centred on the given line.
// A fill: a stroked line, even straight, goes through the path stroker.
// Drawn on whole device pixels: crisper, and an antialiased fill of a long
// thin rectangle costs as much as a trace.
void rule(QPainter& p, double x, double y, double w, double h, const QColor& c, double thickness = 1.0)
{
    p.setRenderHint(QPainter::Antialiasing, false);
    if (w == 0)
        p.fillRect(QRectF(x - thickness / 2, y, thickness, h), c);
    else
        p.fillRect(QRectF(x, y - thickness / 2, w, thickness), c);
    p.setRenderHint(QPainter::Antialiasing, true);
}

// Screen readers then say "chart" before the summary the owner puts in the name.
QAccessibleInterface* chartAccessible(const QString& key, QObject* object)
{
    if (key == QLatin1String("InstStripChart") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Chart);
    return nullptr;
}

} // namespace

InstStripChart::InstStripChart(QWidget* parent)
    : QWidget(parent)
    , axisFont_(Inst::monoFont(10, 400, 0))
    , nameFont_(Inst::monoFont(10, 600, 1.0))
{
    static const bool factoryInstalled = (QAccessible::installFactory(chartAccessible), true);
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize InstStripChart::sizeHint() const
{
    return QSize(640, 260);
}

QSize InstStripChart::minimumSizeHint() const
{
    return QSize(320, 150);
}

QString InstStripChart::axisText(double ms)
{
    const double a = std::fabs(ms);
    const QString sign = ms < 0 ? QString(QChar(0x2212)) : QString();
    if (a < 1000.0) {
        const int decimals = (a != 0.0 && a < 1.0) ? 1 : 0;
        return sign + QString::number(a, 'f', decimals) + QStringLiteral(" ms");
    }
    QString s = QString::number(a / 1000.0, 'f', 3);
    while (s.endsWith(QLatin1Char('0')))
        s.chop(1);
    if (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    return sign + s + QStringLiteral(" s");
}

QVector<qint64> InstStripChart::timeTicks(qint64 fromUtcMs, qint64 toUtcMs, qint64 stepMs)
{
    // Every zone's offset from UTC is a whole number of quarter hours, so a
    // local whole hour always falls on a UTC quarter hour: try those, each
    // with its own offset, rather than one offset for the whole range.
    constexpr qint64 kQuarterMs = 15 * 60000;
    const qint64 grain = stepMs >= kQuarterMs && stepMs % kQuarterMs == 0 ? kQuarterMs : 60000;
    QVector<qint64> ticks;
    if (stepMs <= 0)
        return ticks;
    qint64 t = fromUtcMs >= 0 ? (fromUtcMs + grain - 1) / grain * grain : fromUtcMs / grain * grain;
    for (; t <= toUtcMs; t += grain) {
        const qint64 local = t + QDateTime::fromMSecsSinceEpoch(t).offsetFromUtc() * 1000LL;
        if (local % stepMs == 0)
            ticks.append(t);
    }
    return ticks;
}

void InstStripChart::setTimeRange(qint64 fromUtcMs, qint64 toUtcMs)
{
    if (toUtcMs <= fromUtcMs)
        toUtcMs = fromUtcMs + 1;
    if (fromUtcMs == from_ && toUtcMs == to_)
        return;
    from_ = fromUtcMs;
    to_ = toUtcMs;
    dirty_ = true;
    update();
}

void InstStripChart::setData(const QVector<Sample>& samples, const QVector<Span>& gaps,
                             const QVector<Mark>& marks)
{
    // The cursor stays on the sample it was on, wherever that now sits.
    const qint64 cursorAt = cursor_ >= 0 ? samples_.at(cursor_).utcMs : 0;
    samples_ = samples;
    gaps_ = gaps;
    marks_ = marks;
    int cursor = -1;
    if (cursor_ >= 0) {
        const auto it = std::lower_bound(samples_.cbegin(), samples_.cend(), cursorAt,
                                         [](const Sample& s, qint64 t) { return s.utcMs < t; });
        if (it != samples_.cend() && it->utcMs == cursorAt)
            cursor = int(it - samples_.cbegin());
    }
    dirty_ = true;
    update();
    if (cursor != cursor_) {
        cursor_ = cursor;
        emit cursorMoved(cursor_);
    }
}

void InstStripChart::setBand(double halfWidthMs, const QString& label)
{
    band_ = halfWidthMs;
    bandLabel_ = label;
    dirty_ = true;
    update();
}

void InstStripChart::setLaneNames(const QString& upper, const QString& lower)
{
    upperName_ = upper;
    lowerName_ = lower;
    update();
}

void InstStripChart::setLegendNames(const QString& gap, const QString& mark, const QString& strongMark)
{
    gapName_ = gap;
    markName_ = mark;
    strongMarkName_ = strongMark;
    update();
}

void InstStripChart::setEmptyText(const QString& text)
{
    emptyText_ = text;
    update();
}

void InstStripChart::setCursorIndex(int index)
{
    if (index < -1 || index >= samples_.size())
        index = -1;
    if (index == cursor_)
        return;
    cursor_ = index;
    update();
    emit cursorMoved(cursor_);
}

double InstStripChart::xOf(qint64 utcMs) const
{
    return plot_.left() + double(utcMs - from_) / double(to_ - from_) * plot_.width();
}

void InstStripChart::rebuild()
{
    dirty_ = false;
    const QFontMetricsF axis(axisFont_);
    const double labelWidth = axis.horizontalAdvance(QStringLiteral("\u22121500 ms")) + 8.0;
    plot_ = QRectF(QPointF(labelWidth, kLegendHeight + 4.0),
                   QPointF(width() - 8.0, height() - kTimeAxisHeight));
    const double upperHeight = (plot_.height() - kLaneGap) * kUpperShare;
    upper_.rect = QRectF(plot_.left(), plot_.top(), plot_.width(), upperHeight);
    lower_.rect = QRectF(plot_.left(), upper_.rect.bottom() + kLaneGap, plot_.width(),
                         plot_.bottom() - upper_.rect.bottom() - kLaneGap);

    double lo = 0.0, hi = 0.0, secondHi = 0.0;
    for (const Sample& s : samples_) {
        lo = std::min(lo, s.value);
        hi = std::max(hi, s.value);
        if (!std::isnan(s.second))
            secondHi = std::max(secondHi, s.second);
    }
    // At least ±5 ms shown, so that a quiet clock is not drawn as noise blown up.
    if (hi - lo < 10.0) {
        const double mid = (hi + lo) / 2.0;
        lo = std::min(lo, mid - 5.0);
        hi = std::max(hi, mid + 5.0);
    }
    const double pad = (hi - lo) * 0.08;
    upper_.step = niceStep((hi - lo + 2 * pad) / 4.0);
    upper_.lo = std::floor((lo - pad) / upper_.step) * upper_.step;
    upper_.hi = std::ceil((hi + pad) / upper_.step) * upper_.step;
    lower_.step = niceStep(std::max(secondHi * 1.1, 4.0) / 2.0);
    lower_.lo = 0.0;
    lower_.hi = std::max(std::ceil(secondHi * 1.1 / lower_.step), 1.0) * lower_.step;

    const double span = double(to_ - from_);
    const double maxLabels = std::max(2.0, plot_.width() / (axis.horizontalAdvance(QStringLiteral("00:00")) * 2.2));
    static const qint64 steps[] = {60000, 120000, 300000, 600000, 900000, 1800000,
                                   3600000, 7200000, 10800000, 21600000, 43200000};
    qint64 step = steps[std::size(steps) - 1];
    for (qint64 s : steps) {
        if (span / double(s) <= maxLabels) {
            step = s;
            break;
        }
    }
    ticks_ = timeTicks(from_, to_, step);

    dense_ = double(samples_.size()) > plot_.width() * kDenseFrom;
    thin(false, upperLines_);
    thin(true, lowerLines_);
}

// Sparse traces are lines through the samples. Dense ones (a day is about
// ten samples a pixel) are drawn as one filled outline per run: each pixel
// column spans the lowest to highest sample in it and joins the column
// before. That is the picture a line through every sample gives, at a cost
// that grows with the width instead of the samples, and a fill is far cheaper
// to rasterise than a wide antialiased stroke that doubles back on itself.
void InstStripChart::thin(bool second, QVector<QPolygonF>& out) const
{
    out.clear();
    const Lane& lane = second ? lower_ : upper_;
    const double half = (second ? kLowerPen : kUpperPen) / 2.0;
    struct Column {
        long index;
        double x;
        double top;
        double bottom;
        double last;
    };
    QVector<Column> columns;
    QPolygonF line;
    auto flushRun = [&] {
        if (!dense_) {
            if (!line.isEmpty())
                out.append(line);
            line.clear();
            return;
        }
        if (columns.isEmpty())
            return;
        QPolygonF outline;
        outline.reserve(2 * columns.size() + 2);
        if (columns.size() == 1)
            outline.append(QPointF(columns.constFirst().x - half, columns.constFirst().top - half));
        for (const Column& c : std::as_const(columns))
            outline.append(QPointF(c.x, c.top - half));
        if (columns.size() == 1)
            outline.append(QPointF(columns.constFirst().x + half, columns.constFirst().top - half));
        for (auto c = columns.crbegin(); c != columns.crend(); ++c)
            outline.append(QPointF(c->x, c->bottom + half));
        out.append(outline);
        columns.clear();
    };
    for (const Sample& s : samples_) {
        const double v = second ? s.second : s.value;
        if (s.breakBefore || std::isnan(v))
            flushRun();
        if (std::isnan(v))
            continue;
        const QPointF p(xOf(s.utcMs), lane.y(v));
        if (!dense_) {
            line.append(p);
            continue;
        }
        const long index = long(std::floor(p.x()));
        if (columns.isEmpty() || columns.constLast().index != index) {
            Column c{index, double(index) + 0.5, p.y(), p.y(), p.y()};
            if (!columns.isEmpty()) {
                c.top = std::min(c.top, columns.constLast().last);
                c.bottom = std::max(c.bottom, columns.constLast().last);
            }
            columns.append(c);
        }
        Column& c = columns.last();
        c.top = std::min(c.top, p.y());
        c.bottom = std::max(c.bottom, p.y());
        c.last = p.y();
    }
    flushRun();
}

void InstStripChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    dirty_ = true;
}

void InstStripChart::paintLane(QPainter& p, const Lane& lane, const QString& name, bool band) const
{
    const Inst::Palette& pal = Inst::colors();
    const QFontMetricsF axis(axisFont_);
    p.save();
    if (band && band_ > 0.0) {
        const double top = std::max(lane.y(band_), lane.rect.top());
        const double bottom = std::min(lane.y(-band_), lane.rect.bottom());
        if (bottom > top)
            p.fillRect(QRectF(lane.rect.left(), top, lane.rect.width(), bottom - top), withAlpha(pal.led, 0.07));
        // Solid and faint: a dashed antialiased line costs more than the whole trace.
        for (double edge : {band_, -band_}) {
            const double y = lane.y(edge);
            if (y >= lane.rect.top() && y <= lane.rect.bottom())
                rule(p, lane.rect.left(), y, lane.rect.width(), 0, withAlpha(pal.led, 0.4));
        }
    }
    p.setFont(axisFont_);
    for (double v = lane.lo; v <= lane.hi + lane.step / 2; v += lane.step) {
        const double y = lane.y(v);
        const bool zero = std::fabs(v) < lane.step / 2;
        rule(p, lane.rect.left(), y, lane.rect.width(), 0, zero ? pal.bezel : pal.grid);
        p.setPen(pal.mut);
        const QString text = axisText(zero ? 0.0 : v);
        drawLabel(p, QPointF(lane.rect.left() - 6.0, y), text, Qt::AlignRight | Qt::AlignVCenter);
    }
    p.setFont(nameFont_);
    p.setPen(band ? pal.accent : pal.sec);
    drawLabel(p, lane.rect.topLeft() + QPointF(6, 3), name.toUpper(), Qt::AlignLeft | Qt::AlignTop);
    if (band && !bandLabel_.isEmpty()) {
        p.setPen(pal.led);
        drawLabel(p, lane.rect.topRight() + QPointF(-6, 3), bandLabel_, Qt::AlignRight | Qt::AlignTop);
    }
    p.restore();
}

// Laying out a text is most of what a frame would cost; the few texts a
// chart shows are laid out once and kept.
double InstStripChart::drawLabel(QPainter& p, const QPointF& at, const QString& text,
                                 Qt::Alignment align) const
{
    const QString key = QString::number(p.font().pixelSize()) + QLatin1Char('/')
        + QString::number(p.font().weight()) + QLatin1Char('/') + text;
    auto it = labels_.find(key);
    if (it == labels_.end()) {
        if (labels_.size() > 400)
            labels_.clear();
        QStaticText laidOut(text);
        laidOut.setTextFormat(Qt::PlainText);
        laidOut.setPerformanceHint(QStaticText::AggressiveCaching);
        laidOut.prepare(p.transform(), p.font());
        it = labels_.insert(key, laidOut);
    }
    const QSizeF size = it->size();
    QPointF topLeft = at;
    if (align & Qt::AlignRight)
        topLeft.rx() -= size.width();
    else if (align & Qt::AlignHCenter)
        topLeft.rx() -= size.width() / 2;
    if (align & Qt::AlignVCenter)
        topLeft.ry() -= size.height() / 2;
    p.drawStaticText(topLeft, *it);
    return size.width();
}

void InstStripChart::paintTimeAxis(QPainter& p) const
{
    const Inst::Palette& pal = Inst::colors();
    p.setFont(axisFont_);
    const double half = QFontMetricsF(axisFont_).horizontalAdvance(QStringLiteral("00:00")) / 2;
    for (qint64 t : ticks_) {
        const double x = xOf(t);
        rule(p, x, plot_.top(), 0, plot_.height(), pal.grid);
        // A time at the very edge would run into the value labels or out of the widget.
        if (x - half < plot_.left() - 4 || x + half > width())
            continue;
        p.setPen(pal.mut);
        const QString text = QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("HH:mm"));
        drawLabel(p, QPointF(x, plot_.bottom() + 2), text, Qt::AlignHCenter | Qt::AlignTop);
    }
}

void InstStripChart::paintEvent(QPaintEvent*)
{
    if (dirty_)
        rebuild();
    const Inst::Palette& pal = Inst::colors();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    if (hasFocus()) {
        p.setPen(QPen(pal.accent, 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }

    // Legend of what is not a trace: the traces name their own lanes.
    p.setFont(axisFont_);
    const QFontMetricsF axis(axisFont_);
    double lx = plot_.left();
    const double ly = 4.0;
    auto legend = [&](const QColor& c, bool box, const QString& text) {
        if (box)
            p.fillRect(QRectF(lx, ly + 3, 10, 9), withAlpha(c, 0.35));
        else
            p.fillRect(QRectF(lx + 4, ly + 1, 2, 13), c);
        lx += 14;
        p.setPen(pal.sec);
        lx += drawLabel(p, QPointF(lx, ly), text, Qt::AlignLeft | Qt::AlignTop) + 14;
    };
    if (!gapName_.isEmpty())
        legend(pal.amber, true, gapName_);
    if (!markName_.isEmpty())
        legend(pal.led, false, markName_);
    if (!strongMarkName_.isEmpty())
        legend(pal.red, false, strongMarkName_);

    paintTimeAxis(p);
    paintLane(p, upper_, upperName_, true);
    paintLane(p, lower_, lowerName_, false);

    // Everything below lies inside the plot by construction: no clip, which
    // at a fractional scale would turn every fill into a masked one.
    p.save();
    for (const Span& g : gaps_) {
        const double x0 = std::max(xOf(g.fromUtcMs), plot_.left());
        const double x1 = std::min(std::max(xOf(g.toUtcMs), x0 + 2.0), plot_.right());
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(QRectF(x0, plot_.top(), x1 - x0, plot_.height()), withAlpha(pal.amber, 0.16));
        p.setRenderHint(QPainter::Antialiasing, true);
    }
    for (const Mark& m : marks_) {
        const double x = xOf(m.utcMs);
        rule(p, x, plot_.top(), 0, plot_.height(), withAlpha(m.color, m.strong ? 0.9 : 0.4), m.strong ? 1.5 : 1.0);
        p.setPen(Qt::NoPen);
        p.setBrush(m.color);
        p.drawEllipse(QPointF(x, upper_.rect.top()), 3.0, 3.0);
        if (m.strong && !m.label.isEmpty()) {
            // Inside the plot, under the lane's and the band's names: to the
            // left of the mark where the right has no room.
            const double w = axis.horizontalAdvance(m.label);
            const double y = upper_.rect.top() + 3 + QFontMetricsF(nameFont_).height() + 2;
            const double lx = x + 5 + w <= plot_.right() ? x + 5 : std::max(plot_.left() + 2, x - 5 - w);
            p.setPen(m.color);
            drawLabel(p, QPointF(lx, y), m.label, Qt::AlignLeft | Qt::AlignTop);
        }
    }
    p.setBrush(Qt::NoBrush);
    if (samples_.isEmpty() && !emptyText_.isEmpty()) {
        p.setFont(nameFont_);
        p.setPen(pal.mut);
        drawLabel(p, upper_.rect.center(), emptyText_, Qt::AlignHCenter | Qt::AlignVCenter);
    }
    const bool dots = double(samples_.size()) < plot_.width() * kDotsBelowDensity;
    auto trace = [&](const QVector<QPolygonF>& lines, const QColor& c, double w, bool second) {
        if (dense_) {
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            for (const QPolygonF& outline : lines)
                p.drawPolygon(outline);
            p.setBrush(Qt::NoBrush);
            return;
        }
        p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (const QPolygonF& line : lines) {
            if (line.size() == 1)
                p.drawPoint(line.constFirst());
            else
                p.drawPolyline(line);
        }
        if (!dots)
            return;
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        const Lane& lane = second ? lower_ : upper_;
        for (const Sample& s : samples_) {
            const double v = second ? s.second : s.value;
            if (!std::isnan(v))
                p.drawEllipse(QPointF(xOf(s.utcMs), lane.y(v)), w + 0.6, w + 0.6);
        }
        p.setBrush(Qt::NoBrush);
    };
    trace(lowerLines_, pal.sec, kLowerPen, true);
    trace(upperLines_, pal.accent, kUpperPen, false);

    if (cursor_ >= 0 && cursor_ < samples_.size()) {
        const Sample& s = samples_.at(cursor_);
        const double x = xOf(s.utcMs);
        p.setPen(QPen(pal.pri, 1.0, Qt::DashLine));
        p.drawLine(QPointF(x, plot_.top()), QPointF(x, plot_.bottom()));
        p.setPen(QPen(pal.panel, 1.5));
        p.setBrush(pal.accent);
        p.drawEllipse(QPointF(x, upper_.y(s.value)), 4.5, 4.5);
        if (!std::isnan(s.second)) {
            p.setBrush(pal.sec);
            p.drawEllipse(QPointF(x, lower_.y(s.second)), 4.0, 4.0);
        }
    }
    p.restore();
}

void InstStripChart::keyPressEvent(QKeyEvent* event)
{
    const int n = int(samples_.size());
    if (n == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int page = std::max(1, n / 10);
    int to = cursor_;
    switch (event->key()) {
    case Qt::Key_Left: to = cursor_ < 0 ? n - 1 : std::max(0, cursor_ - 1); break;
    case Qt::Key_Right: to = cursor_ < 0 ? n - 1 : std::min(n - 1, cursor_ + 1); break;
    case Qt::Key_PageUp: to = std::max(0, (cursor_ < 0 ? n - 1 : cursor_) - page); break;
    case Qt::Key_PageDown: to = std::min(n - 1, (cursor_ < 0 ? n - 1 : cursor_) + page); break;
    case Qt::Key_Home: to = 0; break;
    case Qt::Key_End: to = n - 1; break;
    case Qt::Key_Escape:
        if (cursor_ < 0) {
            QWidget::keyPressEvent(event);
            return;
        }
        to = -1;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    setCursorIndex(to);
    event->accept();
}

void InstStripChart::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    if (samples_.isEmpty() || event->button() != Qt::LeftButton)
        return;
    const double x = event->position().x();
    int best = 0;
    for (int i = 1; i < samples_.size(); ++i) {
        if (std::fabs(xOf(samples_.at(i).utcMs) - x) < std::fabs(xOf(samples_.at(best).utcMs) - x))
            best = i;
    }
    setCursorIndex(best);
}

void InstStripChart::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void InstStripChart::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}
