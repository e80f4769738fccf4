#include "instappearanceselector.h"
#include "insttheme.h"

#include <QtTest>

using Inst::Appearance;

class TestInstSelector : public QObject {
    Q_OBJECT
private slots:
    void hitAreas();
    void sizeAndStart();
    void clicksReportChanges();
    void setValueDoesNotReport();
    void clickWithoutHandlerMovesSelection();
    void paintsSelectedSegment();
};

void TestInstSelector::hitAreas()
{
    for (int y = 0; y <= 20; ++y) {
        QCOMPARE(InstAppearanceSelector::segmentAt(QPointF(1, y)), -1);
        for (int x = 2; x <= 24; ++x)
            QCOMPARE(InstAppearanceSelector::segmentAt(QPointF(x, y)), 0);
        for (int x = 25; x <= 47; ++x)
            QCOMPARE(InstAppearanceSelector::segmentAt(QPointF(x, y)), 1);
        for (int x = 48; x <= 70; ++x)
            QCOMPARE(InstAppearanceSelector::segmentAt(QPointF(x, y)), 2);
        QCOMPARE(InstAppearanceSelector::segmentAt(QPointF(71, y)), -1);
    }
    QCOMPARE(InstAppearanceSelector::segmentAt(QPointF(10, 21)), -1);
    QCOMPARE(InstAppearanceSelector::segmentAt(QPointF(10, -1)), -1);
    // Shared edge of the widened areas goes to the lower index.
    QCOMPARE(InstAppearanceSelector::segmentAt(QPointF(24.5, 5)), 0);
    QCOMPARE(InstAppearanceSelector::segmentRect(2), QRectF(48, 2, 22, 16));
}

void TestInstSelector::sizeAndStart()
{
    InstAppearanceSelector selector;
    QCOMPARE(selector.sizeHint(), QSize(72, 20));
    QCOMPARE(selector.value(), Appearance::Dark);
}

void TestInstSelector::clicksReportChanges()
{
    InstAppearanceSelector selector;
    selector.resize(72, 20);
    QList<Appearance> reported;
    selector.setOnChange([&](Appearance a) { reported << a; });

    QTest::mouseClick(&selector, Qt::LeftButton, {}, QPoint(60, 10));  // already dark
    QVERIFY(reported.isEmpty());
    QTest::mouseClick(&selector, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(reported, QList<Appearance>{Appearance::System});
    QCOMPARE(selector.value(), Appearance::System);
    QTest::mouseClick(&selector, Qt::RightButton, {}, QPoint(30, 10));
    QCOMPARE(reported.size(), 1);
    QTest::mouseClick(&selector, Qt::LeftButton, {}, QPoint(71, 10));  // between pill and edge
    QCOMPARE(reported.size(), 1);
    QTest::mouseClick(&selector, Qt::LeftButton, {}, QPoint(30, 0));
    QCOMPARE(reported, (QList<Appearance>{Appearance::System, Appearance::Light}));
    QTest::mouseClick(&selector, Qt::LeftButton, {}, QPoint(48, 19));
    QCOMPARE(reported.last(), Appearance::Dark);
    QCOMPARE(reported.size(), 3);

    // A replaced handler takes over.
    int other = 0;
    selector.setOnChange([&](Appearance) { ++other; });
    QTest::mouseClick(&selector, Qt::LeftButton, {}, QPoint(30, 10));
    QCOMPARE(other, 1);
    QCOMPARE(reported.size(), 3);
}

void TestInstSelector::setValueDoesNotReport()
{
    InstAppearanceSelector selector;
    int calls = 0;
    selector.setOnChange([&](Appearance) { ++calls; });
    selector.setValue(Appearance::Light);
    selector.setValue(Appearance::System);
    QCOMPARE(selector.value(), Appearance::System);
    QCOMPARE(calls, 0);
}

void TestInstSelector::clickWithoutHandlerMovesSelection()
{
    InstAppearanceSelector selector;
    selector.resize(72, 20);
    QTest::mouseClick(&selector, Qt::LeftButton, {}, QPoint(30, 10));
    QCOMPARE(selector.value(), Appearance::Light);
}

void TestInstSelector::paintsSelectedSegment()
{
    Inst::setDark(true);
    const Inst::Palette& c = Inst::colors();
    InstAppearanceSelector selector;
    selector.resize(72, 20);
    selector.setValue(Appearance::Light);
    QImage image(72, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    selector.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    // Near the rounded end of the selected pill: accent; other pills: no accent.
    QCOMPARE(image.pixelColor(29, 10).name(), c.accent.name());
    QVERIFY(image.pixelColor(52, 10).name() != c.accent.name());
    QVERIFY(image.pixelColor(6, 10).name() != c.accent.name());
}

QTEST_MAIN(TestInstSelector)
#include "tst_instselector.moc"
