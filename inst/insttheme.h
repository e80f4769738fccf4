#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <QtGlobal>

class QPushButton;
class QWidget;

namespace Inst {

// The user's appearance choice; stored in settings through its text form.
enum class Appearance : qint32 {
    System = 0,
    Light = 1,
    Dark = 2,
};

// One complete colour record of the instrument look.
struct Palette {
    bool dark = true;
    QColor panel;    // window background, text and icons on accent
    QColor deck;     // module header top, status line, section title strip
    QColor section;  // section bodies, bezels, plain buttons
    QColor bezel;    // borders, hairlines, inactive tracks
    QColor accent;   // focus, selection, links, active toggles
    QColor pri;      // primary text
    QColor sec;      // secondary text
    QColor mut;      // muted and disabled text
    QColor canvas;   // input fields, screens
    QColor well;     // face of the readout bar
    QColor led;      // the "go" green of lamps and texts
    QColor grid;     // hairlines of screens, text panes, readout bar; table rules
    QColor screen;   // text in text panes and lists
    QColor red;      // alarm
    QColor amber;    // warning
};

enum class ButtonRole : int {
    Plain = 0,
    Go = 1,
    Primary = 2,
    Segment = 3,
    Help = 4,
    Alarm = 5,
};

// The current palette; paint code reads it at paint time, never caches it.
Palette& colors();
Palette makePalette(bool dark);
// Returns true when the palette actually changed.
bool setDark(bool dark);

Appearance appearance();
// Stores the choice and forwards it to the platform; leaves the palette alone.
void setAppearance(Appearance value);
bool wantsDark();

Appearance appearanceFromString(const QString& text);
QString appearanceToString(Appearance value);

QPalette qtPalette();
QString styleSheet();
// Installs palette and sheet of the current colours on a top-level widget.
void applyTheme(QWidget* widget);
// setDark(wantsDark()) followed by applyTheme(widget).
void refreshTheme(QWidget* widget);

QString rgba(const QColor& color, double alphaScale);

void setTone(QWidget* widget, const char* tone);
void styleButton(QPushButton* button, ButtonRole role);

} // namespace Inst
