#include "instfonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>
#include <QtDebug>

namespace Inst {

namespace {

QString& family()
{
    static QString name;
    return name;
}

constexpr double kPointsPerPixel = 0.75;

} // namespace

void ensureFonts()
{
    if (!family().isEmpty())
        return;
    static const char* const files[] = {
        ":/inst/fonts/IBMPlexMono-Regular.ttf",
        ":/inst/fonts/IBMPlexMono-Medium.ttf",
        ":/inst/fonts/IBMPlexMono-SemiBold.ttf",
    };
    // All three are registered so every weight is at hand, even though the
    // first one already names the family.
    for (const char* file : files) {
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
        if (id >= 0 && family().isEmpty()) {
            const QStringList families = QFontDatabase::applicationFontFamilies(id);
            if (!families.isEmpty())
                family() = families.first();
        }
    }
    if (family().isEmpty()) {
        qWarning("Instrument: IBM Plex Mono is missing from the app's resources; using the system fixed font");
        family() = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
        // A platform without any font still must not make us warn again.
        if (family().isEmpty())
            family() = QStringLiteral("monospace");
    }
}

QString monoFamily()
{
    return family();
}

QFont monoFont(double px, int weight, double letterSpacing)
{
    ensureFonts();
    QFont font(family());
    font.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    font.setPointSizeF(px * kPointsPerPixel);
    font.setWeight(static_cast<QFont::Weight>(weight));
    if (letterSpacing != 0.0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    return font;
}

QFont uiFont(double px, int weight)
{
    QFont font = QApplication::font();
    font.setPointSizeF(px * kPointsPerPixel);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

} // namespace Inst
