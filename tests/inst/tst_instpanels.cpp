#include "instappearanceselector.h"
#include "instbezel.h"
#include "instdot.h"
#include "instled.h"
#include "instmoduleheader.h"
#include "instreadout.h"
#include "instreadoutbar.h"
#include "instscreen.h"
#include "instsection.h"
#include "insttheme.h"
#include "insttoggle.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QtTest>

namespace {

QImage renderOnBlack(QWidget& widget, const QSize& size)
{
    widget.resize(size);
    if (widget.layout())
        widget.layout()->activate();
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

#define COMPARE_NEAR(actual, expected)                                                          \
    QVERIFY2(near(actual, expected),                                                            \
             qPrintable(QStringLiteral("%1 vs %2").arg((actual).name(), (expected).name())))

} // namespace

class TestInstPanels : public QObject {
    Q_OBJECT
private slots:
    void init() { Inst::setDark(true); }

    void moduleHeaderParts();
    void moduleHeaderPaintsGradientAndRule();
    void sectionTitleStripFollowsHeader();
    void sectionFadesWhenDisabled();
    void bezelAndScreenPaint();
    void readoutBarMarksFirstAndDivides();
    void readoutDigitsTextAndPlaceholder_data();
    void readoutDigitsTextAndPlaceholder();
    void readoutUnitAndDim();
    void readoutTone();
    void toggleEmitsOnlyOnUserClick();
    void toggleSizeAndPaint();
};

void TestInstPanels::moduleHeaderParts()
{
    InstModuleHeader header("Tavrin clock");
    QCOMPARE(header.titleLabel()->text(), QStringLiteral("TAVRIN CLOCK"));
    QCOMPARE(header.titleLabel()->property("tone").toByteArray(), QByteArray("sec"));
    QCOMPARE(header.subtitleLabel()->text(), QString());
    QCOMPARE(header.subtitleLabel()->property("tone").toByteArray(), QByteArray("muted"));
    header.setSubtitle("v1");
    QCOMPARE(header.subtitleLabel()->text(), QStringLiteral("v1"));
    QCOMPARE(header.dot()->diameter(), 8);
    QCOMPARE(header.dot()->size(), QSize(8, 8));
    QCOMPARE(header.dot()->maximumSize(), QSize(8, 8));
    InstAppearanceSelector* selector = header.appearanceSelector();
    QCOMPARE(selector->accessibleName(), QStringLiteral("Appearance"));
    QCOMPARE(selector->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(selector->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(selector->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(header.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(header.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    const QMargins m = header.layout()->contentsMargins();
    QCOMPARE(m, QMargins(14, 6, 12, 7));
}

void TestInstPanels::moduleHeaderPaintsGradientAndRule()
{
    Inst::setDark(false);
    const Inst::Palette& c = Inst::colors();
    InstModuleHeader header("x");
    const QImage image = renderOnBlack(header, QSize(300, 40));
    COMPARE_NEAR(image.pixelColor(150, 39), c.bezel);
    // Top row is the deck colour, the row above the rule close to panel.
    COMPARE_NEAR(image.pixelColor(150, 0), c.deck);
    QVERIFY(near(image.pixelColor(150, 38), c.panel, 6));
}

void TestInstPanels::sectionTitleStripFollowsHeader()
{
    const Inst::Palette& c = Inst::colors();
    InstSection plain("Servers");
    QCOMPARE(plain.titleLabel()->text(), QStringLiteral("SERVERS"));
    QImage image = renderOnBlack(plain, QSize(300, 200));
    const int stripBottom = plain.header()->geometry().bottom();
    QVERIFY(stripBottom >= 34);
    COMPARE_NEAR(image.pixelColor(150, 10), c.deck);
    COMPARE_NEAR(image.pixelColor(150, stripBottom), c.deck);
    COMPARE_NEAR(image.pixelColor(150, stripBottom + 2), c.section);
    COMPARE_NEAR(image.pixelColor(150, 0), c.bezel);

    InstSection tall("Servers");
    auto* big = new QWidget;
    big->setFixedSize(40, 60);
    tall.addHeaderWidget(big);
    image = renderOnBlack(tall, QSize(300, 200));
    QVERIFY(tall.header()->geometry().bottom() > stripBottom + 20);
    COMPARE_NEAR(image.pixelColor(150, stripBottom + 10), c.deck);
    // The added widget sits at the right end of the strip.
    QVERIFY(big->geometry().right() > 250);
}

void TestInstPanels::sectionFadesWhenDisabled()
{
    QWidget holder;
    auto* section = new InstSection("s", &holder);
    QVERIFY(!section->graphicsEffect());
    section->setEnabled(false);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(section->graphicsEffect());
    QVERIFY(effect);
    QCOMPARE(effect->opacity(), 0.38);
    section->setEnabled(true);
    QVERIFY(!section->graphicsEffect());
    // Disabled through its parent counts too.
    holder.setEnabled(false);
    QVERIFY(section->graphicsEffect());
    holder.setEnabled(true);
    QVERIFY(!section->graphicsEffect());
}

void TestInstPanels::bezelAndScreenPaint()
{
    const Inst::Palette& c = Inst::colors();
    InstBezel bezel("Offset");
    QCOMPARE(bezel.captionLabel()->text(), QStringLiteral("OFFSET"));
    QCOMPARE(bezel.captionLabel()->property("tone").toByteArray(), QByteArray("muted"));
    QCOMPARE(bezel.captionLabel()->font().pointSizeF(), 10.5 * 0.75);
    QImage image = renderOnBlack(bezel, QSize(100, 60));
    COMPARE_NEAR(image.pixelColor(50, 58), c.section);
    COMPARE_NEAR(image.pixelColor(50, 59), c.bezel);
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::black));

    InstScreen screen;
    QVERIFY(!screen.layout());
    image = renderOnBlack(screen, QSize(100, 60));
    COMPARE_NEAR(image.pixelColor(50, 30), c.canvas);
}

void TestInstPanels::readoutBarMarksFirstAndDivides()
{
    const Inst::Palette& c = Inst::colors();
    InstReadoutBar bar;
    QCOMPARE(bar.count(), 0);
    InstReadout* first = bar.addReadout("Offset", 2);
    InstReadout* second = bar.addReadout("Last sync");
    QCOMPARE(bar.count(), 2);
    QVERIFY(first->isFirst());
    QVERIFY(!second->isFirst());
    QCOMPARE(first->parentWidget(), &bar);
    QCOMPARE(first->captionLabel()->text(), QStringLiteral("OFFSET"));

    const QImage image = renderOnBlack(bar, QSize(400, 90));
    const int y = image.height() / 2;
    COMPARE_NEAR(image.pixelColor(first->x(), y), c.well);
    COMPARE_NEAR(image.pixelColor(second->x(), y), c.bezel);
    COMPARE_NEAR(image.pixelColor(second->x() + 1, y), c.well);
    // Stretch 2 against 1.
    QVERIFY(first->width() > second->width());
}

void TestInstPanels::readoutDigitsTextAndPlaceholder_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("digits");
    QTest::newRow("time") << "12:05" << true;
    QTest::newRow("negative") << "-0.25" << true;
    QTest::newRow("minus sign") << QString(QChar(0x2212)) + "3" << true;
    QTest::newRow("blank inside") << "12 05" << true;
    QTest::newRow("other decimal digits") << QString(QChar(0x0663)) + QChar(0x0664) << true;
    QTest::newRow("letters") << "12 min" << false;
    QTest::newRow("plus") << "+3" << false;
    QTest::newRow("empty") << "" << false;
}

void TestInstPanels::readoutDigitsTextAndPlaceholder()
{
    QFETCH(QString, value);
    QFETCH(bool, digits);
    InstReadout readout("r");
    readout.setValue(value, "ms");
    QCOMPARE(!readout.led()->isHidden(), digits);
    QCOMPARE(!readout.valueLabel()->isHidden(), !digits);
    if (digits) {
        QCOMPARE(readout.led()->text(), value);
        QVERIFY(!readout.unitLabel()->isHidden());
        QCOMPARE(readout.unitLabel()->text(), QStringLiteral("ms"));
    } else {
        QCOMPARE(readout.valueLabel()->text(), value);
        QVERIFY(readout.unitLabel()->isHidden());
        QCOMPARE(readout.unitLabel()->text(), QString());
    }
}

void TestInstPanels::readoutUnitAndDim()
{
    InstReadout readout("r");
    QVERIFY(readout.valueLabel()->isHidden());
    QCOMPARE(readout.led()->digitHeight(), 34);
    QCOMPARE(readout.led()->parentWidget()->height(), readout.led()->sizeHint().height());
    readout.setPlaceholder("--:--");
    QVERIFY(readout.led()->dim());
    QVERIFY(!readout.led()->isHidden());
    QVERIFY(readout.valueLabel()->isHidden());
    QVERIFY(readout.unitLabel()->isHidden());
    QCOMPARE(readout.led()->text(), QStringLiteral("--:--"));
    readout.setValue("42", QString());
    QVERIFY(!readout.led()->dim());
    QVERIFY(readout.unitLabel()->isHidden());
    readout.setValue("no server");
    QVERIFY(readout.led()->isHidden());
    readout.setPlaceholder("88");
    QVERIFY(readout.valueLabel()->isHidden());
    QVERIFY(!readout.led()->isHidden());
}

void TestInstPanels::readoutTone()
{
    InstReadout readout("r");
    QCOMPARE(readout.valueLabel()->property("tone").toByteArray(), QByteArray("sec"));
    readout.setTone("warn");
    QCOMPARE(readout.valueLabel()->property("tone").toByteArray(), QByteArray("warn"));
    readout.setTone("");
    QCOMPARE(readout.valueLabel()->property("tone").toByteArray(), QByteArray());
}

void TestInstPanels::toggleEmitsOnlyOnUserClick()
{
    InstToggle toggle("Keep watching");
    toggle.resize(toggle.sizeHint());
    toggle.show();
    QVERIFY(QTest::qWaitForWindowExposed(&toggle));
    QSignalSpy clicked(&toggle, &QCheckBox::clicked);
    QSignalSpy toggled(&toggle, &QCheckBox::toggled);

    toggle.setChecked(true);
    QCOMPARE(clicked.count(), 0);
    {
        const QSignalBlocker blocker(&toggle);
        toggle.setChecked(false);
    }
    QCOMPARE(toggled.count(), 1);

    // A press on the text, far from the track, still hits.
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(toggle.width() - 3, toggle.height() / 2));
    QCOMPARE(clicked.count(), 1);
    QVERIFY(toggle.isChecked());
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(5, toggle.height() / 2));
    QCOMPARE(clicked.count(), 2);
    QVERIFY(!toggle.isChecked());
}

void TestInstPanels::toggleSizeAndPaint()
{
    const Inst::Palette& c = Inst::colors();
    InstToggle toggle("On");
    QCOMPARE(toggle.cursor().shape(), Qt::PointingHandCursor);
    const QFontMetrics fm(toggle.font());
    QCOMPARE(toggle.sizeHint(), QSize(fm.horizontalAdvance("On") + 45, qMax(fm.height(), 20)));

    QImage image = renderOnBlack(toggle, QSize(100, 30));
    const int y0 = (30 - 20) / 2;
    COMPARE_NEAR(image.pixelColor(31, y0 + 10), c.bezel);      // track, knob left
    COMPARE_NEAR(image.pixelColor(10, y0 + 10), QColor(Qt::white));
    toggle.setChecked(true);
    image = renderOnBlack(toggle, QSize(100, 30));
    COMPARE_NEAR(image.pixelColor(4, y0 + 10), c.accent);      // track, knob right
    COMPARE_NEAR(image.pixelColor(24, y0 + 10), QColor(Qt::white));
    toggle.setEnabled(false);
    image = renderOnBlack(toggle, QSize(100, 30));
    // White knob at 0.4 over the accent track at 0.4, over black.
    const auto faded = [&](int v) { return qRound(0.4 * 255 + 0.6 * 0.4 * v); };
    COMPARE_NEAR(image.pixelColor(24, y0 + 10),
                 QColor(faded(c.accent.red()), faded(c.accent.green()), faded(c.accent.blue())));
    COMPARE_NEAR(image.pixelColor(4, y0 + 10), QColor(qRound(0.4 * c.accent.red()),
                                                      qRound(0.4 * c.accent.green()),
                                                      qRound(0.4 * c.accent.blue())));
}

QTEST_MAIN(TestInstPanels)
#include "tst_instpanels.moc"
