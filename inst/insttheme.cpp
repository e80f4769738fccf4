#include "insttheme.h"

#include "instfonts.h"

#include <QApplication>
#include <QByteArray>
#include <QGuiApplication>
#include <QPushButton>
#include <QStyle>
#include <QStyleHints>
#include <QVariant>
#include <QWidget>

namespace Inst {

namespace {

QColor rgbaF(float r, float g, float b, float a = 1.0f)
{
    return QColor::fromRgbF(r, g, b, a);
}

// Built during static initialisation so a program that never picks a
// theme paints dark.
Palette& currentPalette()
{
    static Palette palette = makePalette(true);
    return palette;
}
const Palette& kForceEarlyInit = currentPalette();

Appearance& currentAppearance()
{
    static Appearance value = Appearance::System;
    return value;
}

} // namespace

Palette& colors()
{
    return currentPalette();
}

Palette makePalette(bool dark)
{
    Palette p;
    p.dark = dark;
    if (dark) {
        p.panel = rgbaF(0.027f, 0.035f, 0.047f);
        p.deck = rgbaF(0.043f, 0.052f, 0.066f);
        p.section = rgbaF(0.035f, 0.044f, 0.057f);
        p.bezel = rgbaF(0.13f, 0.15f, 0.18f);
        p.accent = rgbaF(0.27f, 0.78f, 0.96f);
        p.pri = rgbaF(0.80f, 0.82f, 0.85f);
        p.sec = rgbaF(0.55f, 0.59f, 0.64f);
        p.mut = rgbaF(0.40f, 0.44f, 0.49f);
        p.canvas = rgbaF(0.012f, 0.018f, 0.027f);
        p.well = rgbaF(0.020f, 0.028f, 0.040f);
        p.led = rgbaF(0.22f, 0.88f, 0.48f);
        p.grid = rgbaF(1.0f, 1.0f, 1.0f, 0.09f);
        p.screen = rgbaF(1.0f, 1.0f, 1.0f, 0.92f);
        p.red = rgbaF(1.0f, 0.271f, 0.227f);
        p.amber = rgbaF(1.0f, 0.624f, 0.039f);
    } else {
        p.panel = rgbaF(0.955f, 0.957f, 0.962f);
        p.deck = rgbaF(0.902f, 0.910f, 0.924f);
        p.section = rgbaF(0.982f, 0.984f, 0.988f);
        p.bezel = rgbaF(0.800f, 0.816f, 0.840f);
        p.accent = rgbaF(0.055f, 0.52f, 0.72f);
        p.pri = rgbaF(0.13f, 0.15f, 0.18f);
        p.sec = rgbaF(0.34f, 0.37f, 0.42f);
        p.mut = rgbaF(0.48f, 0.51f, 0.56f);
        p.canvas = rgbaF(0.990f, 0.988f, 0.982f);
        p.well = rgbaF(0.902f, 0.912f, 0.926f);
        p.led = rgbaF(0.10f, 0.52f, 0.30f);
        p.grid = rgbaF(0.0f, 0.0f, 0.0f, 0.075f);
        p.screen = rgbaF(0.15f, 0.17f, 0.20f);
        p.red = rgbaF(1.0f, 0.231f, 0.188f);
        p.amber = rgbaF(0.80f, 0.45f, 0.0f);
    }
    return p;
}

bool setDark(bool dark)
{
    if (currentPalette().dark == dark)
        return false;
    currentPalette() = makePalette(dark);
    return true;
}

Appearance appearance()
{
    return currentAppearance();
}

void setAppearance(Appearance value)
{
    currentAppearance() = value;
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        Qt::ColorScheme scheme = Qt::ColorScheme::Unknown;
        if (value == Appearance::Light)
            scheme = Qt::ColorScheme::Light;
        else if (value == Appearance::Dark)
            scheme = Qt::ColorScheme::Dark;
        app->styleHints()->setColorScheme(scheme);
    }
#endif
}

bool wantsDark()
{
    switch (currentAppearance()) {
    case Appearance::Dark:
        return true;
    case Appearance::Light:
        return false;
    case Appearance::System:
        break;
    }
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return true;
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    const Qt::ColorScheme scheme = QGuiApplication::styleHints()->colorScheme();
    if (scheme == Qt::ColorScheme::Dark)
        return true;
    if (scheme == Qt::ColorScheme::Light)
        return false;
#endif
    // No scheme reported (or too old a Qt to ask): judge the platform palette.
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

Appearance appearanceFromString(const QString& text)
{
    if (text == QLatin1String("system"))
        return Appearance::System;
    if (text == QLatin1String("light"))
        return Appearance::Light;
    return Appearance::Dark;
}

QString appearanceToString(Appearance value)
{
    switch (static_cast<qint32>(value)) {
    case 0:
        return QStringLiteral("system");
    case 1:
        return QStringLiteral("light");
    default:
        return QStringLiteral("dark");
    }
}

QPalette qtPalette()
{
    const Palette& c = colors();
    QPalette p;
    const auto all = QPalette::All;
    p.setBrush(all, QPalette::Window, c.panel);
    p.setBrush(all, QPalette::WindowText, c.pri);
    p.setBrush(all, QPalette::Base, c.canvas);
    p.setBrush(all, QPalette::AlternateBase, c.section);
    p.setBrush(all, QPalette::Text, c.pri);
    p.setBrush(all, QPalette::Button, c.section);
    p.setBrush(all, QPalette::ButtonText, c.pri);
    p.setBrush(all, QPalette::Highlight, c.accent);
    p.setBrush(all, QPalette::HighlightedText, c.panel);
    p.setBrush(all, QPalette::PlaceholderText, c.mut);
    p.setBrush(all, QPalette::Link, c.accent);
    p.setBrush(QPalette::Disabled, QPalette::WindowText, c.mut);
    p.setBrush(QPalette::Disabled, QPalette::Text, c.mut);
    p.setBrush(QPalette::Disabled, QPalette::ButtonText, c.mut);
    return p;
}

namespace {

void updateTree(QWidget* widget)
{
    const auto children = widget->findChildren<QWidget*>();
    for (QWidget* child : children)
        child->update();
    widget->update();
}

} // namespace

void applyTheme(QWidget* widget)
{
    if (!widget)
        return;
    // With a sheet already installed, the style-sheet style restores the
    // palette it saved when it polished; a new palette set before the new
    // sheet would then be replaced by the old one. Dropping the old sheet
    // first makes every switch take the current colours.
    if (!widget->styleSheet().isEmpty())
        widget->setStyleSheet(QString());
    widget->setPalette(qtPalette());
    widget->setAutoFillBackground(true);
    widget->setStyleSheet(styleSheet());
    updateTree(widget);
}

void refreshTheme(QWidget* widget)
{
    setDark(wantsDark());
    applyTheme(widget);
}

QString rgba(const QColor& color, double alphaScale)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF() * alphaScale, 0, 'f', 3);
}

void setTone(QWidget* widget, const char* tone)
{
    if (!widget)
        return;
    const QByteArray wanted(tone ? tone : "");
    if (widget->property("tone").toByteArray() == wanted)
        return;
    widget->setProperty("tone", wanted);
    QStyle* style = widget->style();
    style->unpolish(widget);
    style->polish(widget);
    widget->update();
}

void styleButton(QPushButton* button, ButtonRole role)
{
    if (!button)
        return;
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);

    auto appFont = [](double pt, int weight) {
        QFont f = QApplication::font();
        f.setPointSizeF(pt);
        f.setWeight(static_cast<QFont::Weight>(weight));
        return f;
    };
    switch (static_cast<int>(role)) {
    case 0:
        button->setFont(appFont(9.0, 500));
        break;
    case 1:
        button->setProperty("inst", QByteArray("go"));
        button->setFont(monoFont(13.5, 600, 0.0));
        break;
    case 2:
        button->setProperty("inst", QByteArray("primary"));
        button->setFont(monoFont(13.5, 600, 0.0));
        break;
    case 3:
        button->setProperty("inst", QByteArray("seg"));
        button->setFont(monoFont(11.5, 600, 0.6));
        button->setCheckable(true);
        break;
    case 4:
        button->setProperty("inst", QByteArray("help"));
        button->setFont(appFont(8.25, 600));
        button->setFixedSize(20, 20);
        break;
    case 5:
        button->setProperty("inst", QByteArray("alarm"));
        button->setFont(monoFont(13.5, 600, 0.0));
        break;
    default:
        break;
    }
}

} // namespace Inst
