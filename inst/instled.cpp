#include "instled.h"

#include "insttheme.h"

#include <QPainter>
#include <QtMath>

namespace {

constexpr double kStroke = 0.12;     // of H
constexpr double kGap = 0.07;        // of H
constexpr double kWideAdvance = 0.56;
constexpr double kNarrowAdvance = 0.3;

bool isNarrow(QChar ch)
{
    return ch == QLatin1Char('.') || ch == QLatin1Char(':');
}

double advance(QChar ch, double h)
{
    return (isNarrow(ch) ? kNarrowAdvance : kWideAdvance) * h;
}

// Bits a..g as 0x01..0x40.
int segmentsOf(QChar ch)
{
    switch (ch.unicode()) {
    case '0': return 0x3f;          // abcdef
    case '1': return 0x06;          // bc
    case '2': return 0x5b;          // abged
    case '3': return 0x4f;          // abgcd
    case '4': return 0x66;          // fgbc
    case '5': return 0x6d;          // afgcd
    case '6': return 0x7d;          // afgedc
    case '7': return 0x07;          // abc
    case '8': return 0x7f;          // abcdefg
    case '9': return 0x6f;          // abcdfg
    case '-':
    case 0x2212: return 0x40;       // g
    default: return 0;
    }
}

QColor scaled(QColor c, double factor)
{
    c.setAlphaF(c.alphaF() * factor);
    return c;
}

} // namespace

InstLed::InstLed(int digitHeight, QWidget* parent)
    : QWidget(parent)
    , digitHeight_(digitHeight)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

double InstLed::textWidth(const QString& text, int digitHeight)
{
    const double h = digitHeight;
    double width = 0.0;
    for (QChar ch : text)
        width += advance(ch, h);
    const qsizetype n = text.size();
    if (n >= 2)
        width += double(qint64(n - 1) * digitHeight) * kGap;
    return width;
}

void InstLed::setText(const QString& text)
{
    if (text == text_)
        return;
    const double oldWidth = textWidth(text_, digitHeight_);
    text_ = text;
    if (sizingText_.isEmpty()) {
        const double newWidth = textWidth(text_, digitHeight_);
        if (!qFuzzyCompare(1.0 + oldWidth, 1.0 + newWidth))
            updateGeometry();
    }
    updateAccessibleName();
    update();
}

void InstLed::setAccessibleLabel(const QString& label)
{
    accessibleLabel_ = label;
    updateAccessibleName();
}

// Painted digits are invisible to assistive tools unless named in words.
void InstLed::updateAccessibleName()
{
    QString name = accessibleLabel_;
    if (!text_.isEmpty())
        name += (name.isEmpty() ? QString() : QStringLiteral(" ")) + text_;
    setAccessibleName(name);
}

void InstLed::setSizingText(const QString& text)
{
    sizingText_ = text;
    updateGeometry();
    update();
}

void InstLed::setState(State state)
{
    if (state == state_)
        return;
    state_ = state;
    update();
}

void InstLed::setDim(bool dim)
{
    if (dim == dim_)
        return;
    dim_ = dim;
    update();
}

QSize InstLed::sizeHint() const
{
    const double h = digitHeight_;
    const double w = kStroke * h;
    const QString& measured = sizingText_.isEmpty() ? text_ : sizingText_;
    return QSize(qCeil(textWidth(measured, digitHeight_) + w), qCeil(h + w));
}

QSize InstLed::minimumSizeHint() const
{
    return sizeHint();
}

void InstLed::paintEvent(QPaintEvent*)
{
    if (text_.isEmpty())
        return;
    const Inst::Palette& pal = Inst::colors();
    QColor base = pal.led;
    if (state_ == Warn)
        base = pal.amber;
    else if (state_ == Bad)
        base = pal.red;
    const double k = dim_ ? 0.3 : 1.0;
    const double h = digitHeight_;
    const double w = kStroke * h;

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(w / 2.0, w / 2.0);

    const QColor glow = scaled(base, 0.2 * k);
    const QColor core = scaled(base, k);
    const QColor unlit = scaled(base, 0.06);
    QPen glowPen(glow, 2.0 * w, Qt::SolidLine, Qt::RoundCap);
    QPen corePen(core, w, Qt::SolidLine, Qt::RoundCap);
    QPen unlitPen(unlit, w, Qt::SolidLine, Qt::RoundCap);

    double x = 0.0;
    for (QChar ch : text_) {
        const double a = advance(ch, h);
        if (isNarrow(ch)) {
            const double r = 0.075 * h;
            p.setPen(Qt::NoPen);
            const double cx = x + a / 2.0;
            QVector<double> ys;
            if (ch == QLatin1Char('.'))
                ys = {0.9 * h};
            else
                ys = {0.33 * h, 0.67 * h};
            for (double cy : ys) {
                p.setBrush(glow);
                p.drawEllipse(QPointF(cx, cy), 1.8 * r, 1.8 * r);
                p.setBrush(core);
                p.drawEllipse(QPointF(cx, cy), r, r);
            }
        } else if (ch != QLatin1Char(' ')) {
            const double i = 0.55 * w;
            const double g = 0.066 * h;
            const double L = x + i;
            const double R = x + a - i;
            const double T = i;
            const double M = 0.5 * h;
            const double B = h - i;
            const QLineF segments[7] = {
                {L + g, T, R - g, T},  // a
                {R, T + g, R, M - g},  // b
                {R, M + g, R, B - g},  // c
                {L + g, B, R - g, B},  // d
                {L, M + g, L, B - g},  // e
                {L, T + g, L, M - g},  // f
                {L + g, M, R - g, M},  // g
            };
            const int lit = segmentsOf(ch);
            p.setBrush(Qt::NoBrush);
            for (int s = 0; s < 7; ++s) {
                if (lit & (1 << s)) {
                    p.setPen(glowPen);
                    p.drawLine(segments[s]);
                    p.setPen(corePen);
                    p.drawLine(segments[s]);
                } else {
                    p.setPen(unlitPen);
                    p.drawLine(segments[s]);
                }
            }
        }
        x += a + kGap * h;
    }
}
