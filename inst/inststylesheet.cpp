#include "insttheme.h"

#include <QLatin1String>
#include <QPair>
#include <QVector>

namespace Inst {

namespace {

// %name% markers are replaced by colour texts of the current palette.
const char kTemplate[] = R"QSS(
QLabel { color: %pri%; background: transparent; }
QLabel[tone="sec"] { color: %sec%; }
QLabel[tone="muted"] { color: %mut%; }
QLabel[tone="go"] { color: %led%; }
QLabel[tone="warn"] { color: %amber%; }
QLabel[tone="bad"] { color: %red%; }
QLabel[tone="info"] { color: %accent%; }
QLabel:disabled { color: %mut%; }
QLineEdit, QAbstractSpinBox { background: %canvas%; color: %pri%; border: 1px solid %bezel%; border-radius: 4px; padding: 3px 8px; min-height: 20px; selection-background-color: %accent%; selection-color: %panel%; }
QLineEdit:focus, QAbstractSpinBox:focus { border: 1px solid %accent%; }
QLineEdit:disabled, QAbstractSpinBox:disabled { color: %mut%; }
QAbstractSpinBox::up-button { subcontrol-origin: border; subcontrol-position: top right; width: 16px; border: none; border-left: 1px solid %bezel%; }
QAbstractSpinBox::down-button { subcontrol-origin: border; subcontrol-position: bottom right; width: 16px; border: none; border-left: 1px solid %bezel%; }
QAbstractSpinBox::up-arrow { image: url(:/inst/arrows/up-%mode%.png); width: 8px; height: 5px; }
QAbstractSpinBox::down-arrow { image: url(:/inst/arrows/down-%mode%.png); width: 8px; height: 5px; }
QDateEdit::drop-down { subcontrol-origin: border; subcontrol-position: center right; width: 18px; border: none; border-left: 1px solid %bezel%; }
QDateEdit::down-arrow { image: url(:/inst/arrows/down-%mode%.png); width: 8px; height: 5px; }
QPushButton { background: %section%; color: %pri%; border: 1px solid %bezel%; border-radius: 4px; padding: 4px 11px; }
QPushButton:hover { border: 1px solid %sec%; }
QPushButton:pressed { background: %bezel%; }
QPushButton:disabled { color: %mut%; border: 1px solid %bezel%; }
QPushButton[inst="go"] { color: %led%; background: %led14%; border: 1px solid %led50%; border-radius: 5px; padding: 5px 14px; }
QPushButton[inst="go"]:hover { background: %led22%; }
QPushButton[inst="go"]:pressed { background: %led30%; }
QPushButton[inst="primary"] { color: %accent%; background: %acc14%; border: 1px solid %acc50%; border-radius: 5px; padding: 6px 14px; }
QPushButton[inst="primary"]:hover { background: %acc22%; }
QPushButton[inst="primary"]:pressed { background: %acc30%; }
QPushButton[inst="alarm"] { color: %red%; background: %red14%; border: 1px solid %red50%; border-radius: 5px; padding: 6px 14px; }
QPushButton[inst="alarm"]:hover { background: %red22%; }
QPushButton[inst="alarm"]:pressed { background: %red30%; }
QPushButton[inst="go"]:disabled, QPushButton[inst="primary"]:disabled, QPushButton[inst="alarm"]:disabled { color: %mut%; background: transparent; border: 1px solid %bezel%; }
QPushButton[instSize="small"] { padding: 3px 12px; }
QPushButton[instState="alarm"] { color: %red%; background: %red14%; border: 1px solid %red50%; }
QPushButton[instState="alarm"]:hover { background: %red22%; }
QPushButton[inst="seg"] { color: %sec%; background: %section%; border: 1px solid %bezel%; border-radius: 5px; padding: 5px 10px; }
QPushButton[inst="seg"]:hover { border: 1px solid %sec%; }
QPushButton[inst="seg"]:checked { color: %panel%; background: %accent%; border: 1px solid %accent%; }
QPushButton[inst="seg"]:disabled { color: %mut%; }
QPushButton[inst="tab"] { color: %sec%; background: transparent; border: none; border-radius: 11px; padding: 4px 14px; }
QPushButton[inst="tab"]:hover { color: %pri%; }
QPushButton[inst="tab"]:checked { color: %panel%; background: %accent%; }
QPushButton[inst="help"] { color: %sec%; background: %section%; border: 1px solid %bezel%; border-radius: 10px; padding: 0; }
/* Keyboard focus: a two-pixel accent ring; the padding gives back the extra pixel so nothing moves. */
QPushButton:focus { border: 2px solid %accent%; padding: 3px 10px; outline: none; }
QPushButton[inst="go"]:focus, QPushButton[inst="seg"]:focus { border: 2px solid %accent%; padding: 4px 13px; }
QPushButton[inst="seg"]:focus { padding: 4px 9px; }
QPushButton[inst="primary"]:focus, QPushButton[inst="alarm"]:focus { border: 2px solid %accent%; padding: 5px 13px; }
QPushButton[inst="tab"]:focus { border: 2px solid %accent%; padding: 2px 12px; }
QPushButton[inst="help"]:focus { border: 2px solid %accent%; }
QTableView:focus { border: 1px solid %accent%; }
/* Dialogs opened over a themed window wear its colours too. */
QDialog { background: %panel%; color: %pri%; }
QTableView { background: transparent; alternate-background-color: transparent; color: %pri%; border: 1px solid transparent; border-radius: 4px; gridline-color: transparent; outline: 0; selection-background-color: transparent; selection-color: %pri%; }
QTableView::item { border: none; border-top: 1px solid %grid%; padding: 0 10px 0 0; }
QTableView::item:selected { background: %acc14%; color: %pri%; }
QTableView[pulse="bright"]::item:selected { background: %amber40%; }
QTableView[pulse="dim"]::item:selected { background: %amber16%; }
/* A field inside a table has no face of its own until it is typed in. */
QTableView QLineEdit, QTableView QAbstractSpinBox { background: transparent; border: 1px solid transparent; border-radius: 3px; padding: 2px 6px; }
QTableView QLineEdit:focus, QTableView QAbstractSpinBox:focus { background: %canvas%; border: 1px solid %accent%; }
QTableView QAbstractSpinBox::up-button, QTableView QAbstractSpinBox::down-button { border-left: 1px solid transparent; }
QHeaderView { background: transparent; }
QHeaderView::section { background: transparent; color: %mut%; border: none; padding: 0 10px 5px 5px; }
QTableCornerButton::section { background: transparent; border: none; }
QTextEdit { background: %canvas%; color: %screen%; border: 1px solid %grid%; border-radius: 6px; padding: 4px; selection-background-color: %accent%; selection-color: %panel%; }
/* QListWidget, not QListView: a pull-down's own list is a QListView and keeps the face of its popup rule. */
QPlainTextEdit, QListWidget { background: %canvas%; color: %screen%; border: 1px solid %grid%; border-radius: 6px; padding: 4px; selection-background-color: %accent%; selection-color: %panel%; outline: 0; }
QListWidget::item { padding: 3px 6px; border-radius: 3px; }
QListWidget::item:selected { background: %acc14%; color: %pri%; }
/* The slider track is a hairline well; the travelled part carries the tint. */
QSlider:horizontal { min-height: 18px; }
QSlider::groove:horizontal { height: 4px; background: %bezel%; border-radius: 2px; }
QSlider::sub-page:horizontal { background: %accent%; border-radius: 2px; }
QSlider::add-page:horizontal { background: %bezel%; border-radius: 2px; }
QSlider::handle:horizontal { width: 10px; height: 10px; margin: -5px 0; border-radius: 7px; background: %accent%; border: 2px solid %panel%; }
QSlider[tint="red"]::sub-page:horizontal, QSlider[tint="red"]::handle:horizontal { background: %red%; }
QSlider[tint="green"]::sub-page:horizontal, QSlider[tint="green"]::handle:horizontal { background: %led%; }
QSlider[tint="luma"]::sub-page:horizontal, QSlider[tint="luma"]::handle:horizontal { background: %pri%; }
QSlider::sub-page:horizontal:disabled, QSlider::handle:horizontal:disabled { background: %mut%; }
QProgressBar { background: %canvas%; color: %pri%; border: 1px solid %bezel%; border-radius: 4px; text-align: center; min-height: 16px; max-height: 16px; }
QProgressBar::chunk { background: %acc50%; border-radius: 3px; }
/* The status line sits on the deck colour with a hairline above it. */
QStatusBar { background: %deck%; color: %mut%; border-top: 1px solid %bezel%; }
QStatusBar::item { border: none; }
QStatusBar QLabel { padding: 1px 10px; }
QScrollArea { background: transparent; border: none; }
QWidget#instContent { background: %panel%; }
QWidget#instSectionContent { background: %section%; }
QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }
QScrollBar::handle:vertical { background: %bezel%; border-radius: 3px; min-height: 28px; margin: 2px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar:horizontal { background: transparent; height: 10px; margin: 0; }
QScrollBar::handle:horizontal { background: %bezel%; border-radius: 3px; min-width: 28px; margin: 2px; }
QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { width: 0; }
QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }
QComboBox { combobox-popup: 0; }
QComboBox QAbstractItemView { background: %section%; color: %pri%; border: 1px solid %bezel%; outline: 0; selection-background-color: %accent%; selection-color: %panel%; }
)QSS";

} // namespace

QString styleSheet()
{
    const Palette& c = colors();
    const QVector<QPair<QLatin1String, QString>> tokens = {
        {QLatin1String("%mode%"), c.dark ? QStringLiteral("dark") : QStringLiteral("light")},
        {QLatin1String("%pri%"), c.pri.name()},
        {QLatin1String("%sec%"), c.sec.name()},
        {QLatin1String("%mut%"), c.mut.name()},
        {QLatin1String("%panel%"), c.panel.name()},
        {QLatin1String("%deck%"), c.deck.name()},
        {QLatin1String("%section%"), c.section.name()},
        {QLatin1String("%bezel%"), c.bezel.name()},
        {QLatin1String("%accent%"), c.accent.name()},
        {QLatin1String("%canvas%"), c.canvas.name()},
        {QLatin1String("%led%"), c.led.name()},
        {QLatin1String("%amber%"), c.amber.name()},
        {QLatin1String("%red%"), c.red.name()},
        {QLatin1String("%grid%"), rgba(c.grid, 1.0)},
        {QLatin1String("%screen%"), rgba(c.screen, 1.0)},
        {QLatin1String("%led14%"), rgba(c.led, 0.14)},
        {QLatin1String("%led22%"), rgba(c.led, 0.22)},
        {QLatin1String("%led30%"), rgba(c.led, 0.30)},
        {QLatin1String("%led50%"), rgba(c.led, 0.50)},
        {QLatin1String("%amber40%"), rgba(c.amber, 0.40)},
        {QLatin1String("%amber16%"), rgba(c.amber, 0.16)},
        {QLatin1String("%red14%"), rgba(c.red, 0.14)},
        {QLatin1String("%red22%"), rgba(c.red, 0.22)},
        {QLatin1String("%red30%"), rgba(c.red, 0.30)},
        {QLatin1String("%red50%"), rgba(c.red, 0.50)},
        {QLatin1String("%acc14%"), rgba(c.accent, 0.14)},
        {QLatin1String("%acc22%"), rgba(c.accent, 0.22)},
        {QLatin1String("%acc30%"), rgba(c.accent, 0.30)},
        {QLatin1String("%acc50%"), rgba(c.accent, 0.50)},
    };
    QString text = QString::fromLatin1(kTemplate);
    for (const auto& token : tokens)
        text.replace(token.first, token.second, Qt::CaseSensitive);
    return text;
}

} // namespace Inst
