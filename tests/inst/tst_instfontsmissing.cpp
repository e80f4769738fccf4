#include "instfonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QtTest>

namespace {

QStringList warnings;
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg && text.startsWith(QLatin1String("Instrument:")))
        warnings << text;
    else if (previousHandler)
        previousHandler(type, context, text);
}

} // namespace

// Built without the resource file: the loader must fall back, warn once.
class TestInstFontsMissing : public QObject {
    Q_OBJECT
private slots:
    void warnsOnceAndFallsBack();
};

void TestInstFontsMissing::warnsOnceAndFallsBack()
{
    QVERIFY(!QFile::exists(QStringLiteral(":/inst/fonts/IBMPlexMono-Regular.ttf")));
    previousHandler = qInstallMessageHandler(collect);
    Inst::ensureFonts();
    const QString family = Inst::monoFamily();
    Inst::ensureFonts();
    Inst::monoFont(13.5, 600);
    Inst::monoFont(10.5, 400, 1.2);
    qInstallMessageHandler(previousHandler);

    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings.first(),
             QStringLiteral("Instrument: IBM Plex Mono is missing from the app's resources; "
                            "using the system fixed font"));
    QVERIFY(!family.isEmpty());
    const QString fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    if (!fixed.isEmpty())
        QCOMPARE(family, fixed);
    QCOMPARE(Inst::monoFamily(), family);
}

QTEST_MAIN(TestInstFontsMissing)
#include "tst_instfontsmissing.moc"
