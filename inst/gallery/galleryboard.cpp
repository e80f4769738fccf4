#include "galleryboard.h"

#include "inst.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QLabel* toned(const QString& text, const char* tone, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    Inst::setTone(label, tone);
    return label;
}

QWidget* row(QWidget* parent, std::initializer_list<QWidget*> widgets, int spacing = 10)
{
    auto* holder = new QWidget(parent);
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* w : widgets) {
        w->setParent(holder);
        layout->addWidget(w, 0, Qt::AlignVCenter);
    }
    layout->addStretch();
    return holder;
}

InstLed* led(const QString& text, int height, InstLed::State state, bool dim)
{
    auto* l = new InstLed(height);
    l->setText(text);
    l->setState(state);
    l->setDim(dim);
    return l;
}

QPushButton* button(const QString& text, Inst::ButtonRole role)
{
    auto* b = new QPushButton(text);
    Inst::styleButton(b, role);
    return b;
}

InstSection* lampsSection(QWidget* parent)
{
    auto* section = new InstSection("Lamps and indicators", parent);
    section->addHeaderWidget(new InstChip("LIVE", InstChip::Info));
    QVBoxLayout* body = section->bodyLayout();

    body->addWidget(row(section, {
        led("0123456789", 30, InstLed::Go, false),
        led("-12.5", 30, InstLed::Warn, false),
        led(QString(QChar(0x2212)) + "3", 30, InstLed::Bad, false),
    }, 18));
    body->addWidget(row(section, {
        led("12:34:56", 22, InstLed::Go, false),
        led("88:88", 22, InstLed::Go, true),
        led("8 8", 22, InstLed::Bad, true),
        led("Ab", 22, InstLed::Go, false),
        led("07.12.2026", 16, InstLed::Warn, true),
    }, 18));

    // The dots name their palette role; themeGalleryBoard colours them for the theme in force.
    auto colouredDot = [](const char* role) -> QWidget* {
        auto* d = new InstDot(nullptr, 10);
        d->setProperty("paletteRole", QByteArray(role));
        return d;
    };
    body->addWidget(row(section, {
        new InstDot(nullptr, 10), colouredDot("amber"), colouredDot("red"), colouredDot("accent"),
        new InstChip("READY", InstChip::Go), new InstChip("INFO", InstChip::Info),
        new InstChip("SLOW", InstChip::Warn), new InstChip("NO ANSWER", InstChip::Bad),
        new InstChip("SEC", InstChip::Sec), new InstChip("KIND 7", static_cast<InstChip::Kind>(7)),
    }, 8));

    auto* sync = new InstStatus;
    sync->setText("in sync - 3 s");
    sync->setKind(InstChip::Go);
    auto* lost = new InstStatus;
    lost->setText("lost");
    lost->setKind(InstChip::Warn);
    auto* wrong = new InstStatus;
    wrong->setText("wrong - clock set back - 5 min");
    wrong->setKind(InstChip::Bad);
    wrong->setDetailKind(InstChip::Bad);
    // A status keeps a stretch of its own; here the three sit at their natural width.
    for (InstStatus* s : {sync, lost, wrong})
        s->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    body->addWidget(row(section, {sync, lost, wrong}, 16));
    return section;
}

InstSection* controlsSection(QWidget* parent)
{
    auto* section = new InstSection("Controls", parent);
    QVBoxLayout* body = section->bodyLayout();

    auto* segOn = button("AUTO", Inst::ButtonRole::Segment);
    segOn->setChecked(true);
    auto* disabledGo = button("Set up", Inst::ButtonRole::Go);
    disabledGo->setEnabled(false);
    body->addWidget(row(section, {
        button("Plain", Inst::ButtonRole::Plain), button("Set up", Inst::ButtonRole::Go),
        button("Sync now", Inst::ButtonRole::Primary), button("Set clock", Inst::ButtonRole::Alarm),
        disabledGo,
    }, 8));
    auto* disabledPlain = button("Disabled", Inst::ButtonRole::Plain);
    disabledPlain->setEnabled(false);
    body->addWidget(row(section, {
        segOn, button("MANUAL", Inst::ButtonRole::Segment), button("?", Inst::ButtonRole::Help),
        disabledPlain,
    }, 8));

    auto* on = new InstToggle("Keep watching");
    on->setChecked(true);
    auto* off = new InstToggle("Start at login");
    auto* disabledOn = new InstToggle("Disabled on");
    disabledOn->setChecked(true);
    disabledOn->setEnabled(false);
    auto* disabledOff = new InstToggle("Disabled off");
    disabledOff->setEnabled(false);
    body->addWidget(row(section, {on, off, disabledOn, disabledOff}, 14));

    auto* spin = new QSpinBox;
    spin->setRange(0, 999);
    spin->setValue(123);
    auto* date = new QDateEdit(QDate(2026, 12, 7));
    date->setCalendarPopup(true);
    auto* edit = new QLineEdit;
    edit->setPlaceholderText("server address");
    auto* disabledEdit = new QLineEdit("disabled");
    disabledEdit->setEnabled(false);
    body->addWidget(row(section, {spin, date, edit, disabledEdit}, 8));

    auto* system = new InstAppearanceSelector;
    system->setValue(Inst::Appearance::System);
    auto* light = new InstAppearanceSelector;
    light->setValue(Inst::Appearance::Light);
    auto* dark = new InstAppearanceSelector;
    dark->setValue(Inst::Appearance::Dark);
    for (auto* s : {system, light, dark})
        s->setFixedSize(s->sizeHint());
    body->addWidget(row(section, {system, light, dark}, 12));

    body->addWidget(row(section, {
        toned("plain", "", nullptr), toned("sec", "sec", nullptr), toned("muted", "muted", nullptr),
        toned("go", "go", nullptr), toned("warn", "warn", nullptr), toned("bad", "bad", nullptr),
        toned("info", "info", nullptr),
    }, 12));
    return section;
}

QWidget* panelsColumn(QWidget* parent)
{
    auto* column = new QWidget(parent);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* bar = new InstReadoutBar(column);
    InstReadout* offset = bar->addReadout("Offset", 1);
    offset->setValue("-0.042", "s");
    InstReadout* last = bar->addReadout("Last sync", 1);
    last->setValue("12:34:56");
    InstReadout* since = bar->addReadout("Since", 1);
    since->setValue("no server");
    since->setTone("warn");
    InstReadout* placeholder = bar->addReadout("Drift", 1);
    placeholder->setPlaceholder("--.--");
    InstReadout* bad = bar->addReadout("Server", 1);
    bad->setValue("12:00");
    bad->led()->setState(InstLed::Bad);
    layout->addWidget(bar);

    auto* bezels = new QWidget(column);
    auto* bezelRow = new QHBoxLayout(bezels);
    bezelRow->setContentsMargins(0, 0, 0, 0);
    bezelRow->setSpacing(12);
    auto* bezel = new InstBezel("Time server", bezels);
    bezel->headerLayout()->addWidget(new InstChip("READY", InstChip::Go));
    bezel->headerLayout()->addStretch();
    bezel->contentLayout()->addWidget(new QLabel("tavrin-1.lan  192.168.1.20"));
    bezel->contentLayout()->addWidget(toned("steady for 3 days", "muted", nullptr));
    bezelRow->addWidget(bezel, 1);

    auto* screen = new InstScreen(bezels);
    auto* screenLayout = new QVBoxLayout(screen);
    screenLayout->setContentsMargins(12, 10, 12, 10);
    screenLayout->addWidget(toned("SCREEN", "muted", screen));
    screenLayout->addWidget(led("10:30", 26, InstLed::Go, false));
    bezelRow->addWidget(screen, 1);
    layout->addWidget(bezels);

    auto* pane = new QPlainTextEdit(column);
    pane->setPlainText("Text pane\nsecond line of output");
    pane->setFixedHeight(72);
    layout->addWidget(pane);

    auto* disabled = new InstSection("Disabled section", column);
    disabled->bodyLayout()->addWidget(row(disabled, {
        new InstToggle("Inside"), button("Go", Inst::ButtonRole::Go),
        led("42", 20, InstLed::Go, false),
    }));
    disabled->setEnabled(false);
    layout->addWidget(disabled);
    layout->addStretch();
    return column;
}

} // namespace

void themeGalleryBoard(QWidget* board)
{
    Inst::applyTheme(board);
    const Inst::Palette& p = Inst::colors();
    for (InstDot* dot : board->findChildren<InstDot*>()) {
        const QByteArray role = dot->property("paletteRole").toByteArray();
        if (role == "amber")
            dot->setColor(p.amber);
        else if (role == "red")
            dot->setColor(p.red);
        else if (role == "accent")
            dot->setColor(p.accent);
    }
}

QWidget* makeGalleryBoard(QWidget* parent)
{
    auto* board = new QWidget(parent);
    board->setObjectName("instContent");
    auto* layout = new QVBoxLayout(board);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->setSpacing(12);

    auto* header = new InstModuleHeader("Instrument gallery", board);
    header->setSubtitle("every widget, every state");
    layout->addWidget(header);

    auto* grid = new QGridLayout;
    grid->setContentsMargins(12, 0, 12, 0);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(12);
    grid->addWidget(lampsSection(board), 0, 0);
    grid->addWidget(controlsSection(board), 1, 0);
    grid->addWidget(panelsColumn(board), 0, 1, 2, 1);
    layout->addLayout(grid, 1);
    return board;
}
