#include "instchip.h"
#include "instdot.h"
#include "instled.h"
#include "inststatus.h"
#include "insttheme.h"

#include <QApplication>
#include <QImage>
#include <QtTest>

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Renders a widget on black, without any background of its own.
QImage renderOnBlack(QWidget& widget)
{
    widget.resize(widget.sizeHint());
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

bool near(const QColor& a, const QColor& b, int tolerance = 3)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

QColor scaledOnBlack(const QColor& c, double factor)
{
    return QColor(qRound(c.red() * factor), qRound(c.green() * factor), qRound(c.blue() * factor));
}

// Pixel centres of three segments of the first cell at digit height 64.
const QPoint kSegA(21, 8);
const QPoint kSegB(35, 21);
const QPoint kSegG(21, 35);

#define COMPARE_NEAR(actual, expected)                                                          \
    QVERIFY2(near(actual, expected),                                                            \
             qPrintable(QStringLiteral("%1 vs %2").arg((actual).name(), (expected).name())))

} // namespace

class TestInstLamps : public QObject {
    Q_OBJECT
private slots:
    void init() { Inst::setDark(true); }

    void ledSizeHints();
    void ledSizingTextKeepsSize();
    void ledPaintsLitAndUnlitSegments();
    void ledPaintsStatesAndDim();
    void ledBlankAndLettersAndDots();
    void ledEmptyPaintsNothing();
    void ledFollowsPalette();
    void ledSameTextDoesNotRepaint();
    void dotColours();
    void chipKinds();
    void chipTextAndSize();
    void statusSplitsText_data();
    void statusSplitsText();
    void statusKinds();
};

void TestInstLamps::ledSizeHints()
{
    InstLed led(64);
    QCOMPARE(led.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(led.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(led.sizeHint(), QSize(8, 72));
    led.setText("12:34");
    QCOMPARE(led.sizeHint(), QSize(189, 72));
    QCOMPARE(led.minimumSizeHint(), led.sizeHint());
    QCOMPARE(InstLed::textWidth("8", 10), 5.6);
    QCOMPARE(InstLed::textWidth("1.5", 10), 5.6 + 3.0 + 5.6 + 2 * 0.7);
    // Long texts at large heights stay finite and positive.
    QVERIFY(InstLed::textWidth(QString(100000, QLatin1Char('8')), 1000) > 0);
}

void TestInstLamps::ledSizingTextKeepsSize()
{
    InstLed led(34);
    led.setSizingText("88:88:88");
    const QSize reserved = led.sizeHint();
    for (const char* text : {"1", "12:00", "", "12:34:56.789"}) {
        led.setText(text);
        QCOMPARE(led.sizeHint(), reserved);
    }
    led.setSizingText(QString());
    QCOMPARE(led.sizeHint().width(), qCeil(InstLed::textWidth("12:34:56.789", 34) + 0.12 * 34));
}

void TestInstLamps::ledPaintsLitAndUnlitSegments()
{
    const QColor led = Inst::colors().led;
    InstLed eight(64);
    eight.setText("8");
    QImage image = renderOnBlack(eight);
    COMPARE_NEAR(image.pixelColor(kSegA), led);
    COMPARE_NEAR(image.pixelColor(kSegB), led);
    COMPARE_NEAR(image.pixelColor(kSegG), led);

    InstLed one(64);
    one.setText("1");
    image = renderOnBlack(one);
    COMPARE_NEAR(image.pixelColor(kSegB), led);
    COMPARE_NEAR(image.pixelColor(kSegA), scaledOnBlack(led, 0.06));
    COMPARE_NEAR(image.pixelColor(kSegG), scaledOnBlack(led, 0.06));

    InstLed minus(64);
    minus.setText(QString(QChar(0x2212)));
    image = renderOnBlack(minus);
    COMPARE_NEAR(image.pixelColor(kSegG), led);
    COMPARE_NEAR(image.pixelColor(kSegA), scaledOnBlack(led, 0.06));
}

void TestInstLamps::ledPaintsStatesAndDim()
{
    const Inst::Palette& c = Inst::colors();
    InstLed led(64);
    led.setText("8");
    led.setState(InstLed::Warn);
    COMPARE_NEAR(renderOnBlack(led).pixelColor(kSegG), c.amber);
    led.setState(InstLed::Bad);
    COMPARE_NEAR(renderOnBlack(led).pixelColor(kSegG), c.red);
    led.setState(static_cast<InstLed::State>(9));
    COMPARE_NEAR(renderOnBlack(led).pixelColor(kSegG), c.led);

    // Dim red: glow at 0.06 under the core at 0.3.
    led.setState(InstLed::Bad);
    led.setDim(true);
    const QImage image = renderOnBlack(led);
    const double strength = 0.3 + 0.7 * 0.06;
    for (const QPoint& at : {kSegA, kSegB, kSegG})
        COMPARE_NEAR(image.pixelColor(at), scaledOnBlack(c.red, strength));
}

void TestInstLamps::ledBlankAndLettersAndDots()
{
    const QColor led = Inst::colors().led;
    // A blank takes a full cell; the "8" after it starts at 0.63 H.
    InstLed blank(64);
    blank.setText(" 8");
    QImage image = renderOnBlack(blank);
    QCOMPARE(image.pixelColor(kSegG), QColor(Qt::black));
    const int shift = qRound(0.63 * 64);
    COMPARE_NEAR(image.pixelColor(kSegG + QPoint(shift, 0)), led);

    InstLed letter(64);
    letter.setText("A");
    image = renderOnBlack(letter);
    for (const QPoint& at : {kSegA, kSegB, kSegG})
        COMPARE_NEAR(image.pixelColor(at), scaledOnBlack(led, 0.06));

    // Colon dots at 0.33 H and 0.67 H of a 0.3 H cell.
    InstLed colon(64);
    colon.setText(":");
    QCOMPARE(colon.sizeHint().width(), qCeil(0.3 * 64 + 0.12 * 64));
    image = renderOnBlack(colon);
    const double half = 0.12 * 64 / 2;
    const int cx = int(half + 0.15 * 64);
    COMPARE_NEAR(image.pixelColor(cx, int(half + 0.33 * 64)), led);
    COMPARE_NEAR(image.pixelColor(cx, int(half + 0.67 * 64)), led);
    QCOMPARE(image.pixelColor(cx, int(half + 0.5 * 64)), QColor(Qt::black));
}

void TestInstLamps::ledEmptyPaintsNothing()
{
    InstLed led(64);
    led.resize(40, 72);
    QImage image(led.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    led.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            QCOMPARE(image.pixel(x, y), QColor(Qt::black).rgb());
}

void TestInstLamps::ledFollowsPalette()
{
    InstLed led(64);
    led.setText("8");
    Inst::setDark(false);
    COMPARE_NEAR(renderOnBlack(led).pixelColor(kSegA), Inst::colors().led);
    Inst::setDark(true);
    COMPARE_NEAR(renderOnBlack(led).pixelColor(kSegA), Inst::colors().led);
}

void TestInstLamps::ledSameTextDoesNotRepaint()
{
    InstLed led(20);
    led.setText("12");
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    PaintCounter counter;
    led.installEventFilter(&counter);
    led.setText("13");
    QTRY_VERIFY(counter.paints > 0);
    const int before = counter.paints;
    led.setText("13");
    led.setState(InstLed::Go);
    led.setDim(false);
    QTest::qWait(50);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, before);
}

void TestInstLamps::dotColours()
{
    InstDot dot(nullptr, 10);
    QCOMPARE(dot.sizeHint(), QSize(10, 10));
    QVERIFY(!dot.hasColor());
    COMPARE_NEAR(renderOnBlack(dot).pixelColor(5, 5), Inst::colors().led);
    dot.setColor(QColor(200, 10, 20));
    QVERIFY(dot.hasColor());
    COMPARE_NEAR(renderOnBlack(dot).pixelColor(5, 5), QColor(200, 10, 20));
    // Corners stay clear: it is round.
    QCOMPARE(renderOnBlack(dot).pixelColor(0, 0), QColor(Qt::black));
}

void TestInstLamps::chipKinds()
{
    const Inst::Palette& c = Inst::colors();
    InstChip chip("X", InstChip::Go);
    QCOMPARE(chip.kindColor(), c.led);
    chip.setKind(InstChip::Info);
    QCOMPARE(chip.kindColor(), c.accent);
    chip.setKind(InstChip::Warn);
    QCOMPARE(chip.kindColor(), c.amber);
    chip.setKind(InstChip::Bad);
    QCOMPARE(chip.kindColor(), c.red);
    chip.setKind(InstChip::Sec);
    QCOMPARE(chip.kindColor(), c.sec);
    chip.setKind(static_cast<InstChip::Kind>(7));
    QCOMPARE(chip.kindColor(), c.sec);

    // Pill face in the kind colour at 0.18, clear beyond the rounded ends.
    chip.setKind(InstChip::Bad);
    chip.setText("          ");
    const QImage image = renderOnBlack(chip);
    const QPoint inside(image.width() / 2, 2);
    COMPARE_NEAR(image.pixelColor(inside), scaledOnBlack(c.red, 0.18));
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::black));
}

void TestInstLamps::chipTextAndSize()
{
    InstChip chip("ready", InstChip::Go);
    QCOMPARE(chip.text(), QStringLiteral("ready"));
    QCOMPARE(chip.font().pointSizeF(), 8.25);
    QCOMPARE(chip.font().weight(), QFont::DemiBold);
    const QFontMetrics fm(chip.font());
    QCOMPARE(chip.sizeHint(), QSize(fm.horizontalAdvance("ready") + 16, fm.height() + 4));
    chip.setText("READY NOW");
    QCOMPARE(chip.sizeHint().width(), fm.horizontalAdvance("READY NOW") + 16);
    QCOMPARE(chip.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
}

void TestInstLamps::statusSplitsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("main");
    QTest::addColumn<QString>("detail");
    QTest::newRow("main and detail") << "sync - 3 s" << "SYNC" << "3 S";
    QTest::newRow("main only") << "lost" << "LOST" << "";
    QTest::newRow("first separator") << "a - b - c" << "A" << "B - C";
    QTest::newRow("empty") << "" << "" << "";
    QTest::newRow("dash without blanks") << "off-line" << "OFF-LINE" << "";
    QTest::newRow("empty detail") << "wrong - " << "WRONG" << "";
    QTest::newRow("empty main") << " - 5 min" << "" << "5 MIN";
}

void TestInstLamps::statusSplitsText()
{
    QFETCH(QString, text);
    QFETCH(QString, main);
    QFETCH(QString, detail);
    InstStatus status;
    QVERIFY(status.detailChip()->isHidden());
    QCOMPARE(status.mainChip()->kind(), InstChip::Sec);
    QCOMPARE(status.detailChip()->kind(), InstChip::Info);
    status.setText("before - this");
    status.setText(text);
    QCOMPARE(status.text(), text);
    QCOMPARE(status.mainChip()->text(), main);
    QCOMPARE(status.detailChip()->text(), detail);
    QCOMPARE(status.detailChip()->isHidden(), detail.isEmpty());
}

void TestInstLamps::statusKinds()
{
    InstStatus status;
    status.setKind(InstChip::Go);
    status.setDetailKind(InstChip::Warn);
    QCOMPARE(status.mainChip()->kind(), InstChip::Go);
    QCOMPARE(status.detailChip()->kind(), InstChip::Warn);
}

QTEST_MAIN(TestInstLamps)
#include "tst_instlamps.moc"
