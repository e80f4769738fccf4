#include "instduration.h"
#include "instfonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QtTest>

#include <limits>

class TestInstFonts : public QObject {
    Q_OBJECT
private slots:
    void familyLoadsFromResources();
    void allThreeWeightsAreRegistered();
    void monoFontSizesAndSpacing();
    void uiFontFollowsApplicationFont();
    void formatDuration_data();
    void formatDuration();
};

void TestInstFonts::familyLoadsFromResources()
{
    QVERIFY(QFile::exists(QStringLiteral(":/inst/fonts/IBMPlexMono-Regular.ttf")));
    QVERIFY(QFile::exists(QStringLiteral(":/inst/fonts/IBMPlexMono-Medium.ttf")));
    QVERIFY(QFile::exists(QStringLiteral(":/inst/fonts/IBMPlexMono-SemiBold.ttf")));
    QVERIFY(Inst::monoFamily().isEmpty());
    Inst::ensureFonts();
    QCOMPARE(Inst::monoFamily(), QStringLiteral("IBM Plex Mono"));
    Inst::ensureFonts();
    QCOMPARE(Inst::monoFamily(), QStringLiteral("IBM Plex Mono"));
    QCOMPARE(QFontInfo(Inst::monoFont(14)).family(), QStringLiteral("IBM Plex Mono"));
}

void TestInstFonts::allThreeWeightsAreRegistered()
{
    Inst::ensureFonts();
    const QStringList styles = QFontDatabase::styles(Inst::monoFamily());
    QVERIFY2(styles.contains(QStringLiteral("Regular")), qPrintable(styles.join(',')));
    // Medium and SemiBold may be filed under their own family names.
    const QStringList families = QFontDatabase::families();
    auto weightAvailable = [&](int weight) {
        QFont f = Inst::monoFont(14, weight);
        return QFontInfo(f).weight() == weight;
    };
    QVERIFY2(weightAvailable(500), qPrintable(families.filter("Plex").join(',')));
    QVERIFY2(weightAvailable(600), qPrintable(families.filter("Plex").join(',')));
}

void TestInstFonts::monoFontSizesAndSpacing()
{
    const QFont plain = Inst::monoFont(13.5, 600, 0.0);
    QCOMPARE(plain.pointSizeF(), 10.125);
    QCOMPARE(plain.weight(), QFont::DemiBold);
    QCOMPARE(plain.styleHint(), QFont::Monospace);
    QCOMPARE(plain.styleStrategy(), QFont::PreferDefault);
    QVERIFY(!(plain.resolveMask() & QFont::LetterSpacingResolved));

    const QFont spaced = Inst::monoFont(11.5, 600, 0.6);
    QCOMPARE(spaced.pointSizeF(), 8.625);
    QCOMPARE(spaced.letterSpacingType(), QFont::AbsoluteSpacing);
    QVERIFY(qAbs(spaced.letterSpacing() - 0.6) < 1.0 / 64);  // stored in 1/64 px

    QCOMPARE(Inst::monoFont(10.5, 400, -1.0).letterSpacing(), -1.0);
}

void TestInstFonts::uiFontFollowsApplicationFont()
{
    const QFont f = Inst::uiFont(12.5, 500);
    QCOMPARE(f.family(), QApplication::font().family());
    QCOMPARE(f.pointSizeF(), 9.375);
    QCOMPARE(f.weight(), QFont::Medium);
}

void TestInstFonts::formatDuration_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "0 s";
    QTest::newRow("under a second") << qint64(999) << "0 s";
    QTest::newRow("89 s") << qint64(89999) << "89 s";
    QTest::newRow("90 s") << qint64(90000) << "1 min";
    QTest::newRow("89 min") << qint64(5399999) << "89 min";
    QTest::newRow("90 min") << qint64(5400000) << "1 h";
    QTest::newRow("35 h") << qint64(129599999) << "35 h";
    QTest::newRow("36 h") << qint64(129600000) << "1 days";
    QTest::newRow("negative") << qint64(-3000) << "3 s";
    QTest::newRow("negative minutes") << qint64(-90000) << "1 min";
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << "106751991167 days";
    QTest::newRow("smallest") << std::numeric_limits<qint64>::min() << "106751991167 days";
}

void TestInstFonts::formatDuration()
{
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(Inst::formatDuration(ms), text);
}

QTEST_MAIN(TestInstFonts)
#include "tst_instfonts.moc"
