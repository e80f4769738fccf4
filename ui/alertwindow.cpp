#include "alertwindow.h"

#include "clockwatcher.h"
#include "instfonts.h"
#include "instled.h"
#include "statustexts.h"

#include <QDateEdit>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

// The alert keeps its own red look whatever the theme is.
const char* const kAlertStyleSheet =
    "QLabel { color: #f3c9c6; background: transparent; }\n"
    "QLabel[role=\"title\"] { color: #ffffff; }\n"
    "QLabel[role=\"caption\"] { color: #f08c86; }\n"
    "QLabel[role=\"clockline\"] { color: #f3a7a2; }\n"
    "QLabel[role=\"note\"] { color: #f08c86; }\n"
    "QAbstractSpinBox { background: #0b0101; color: #ffffff;"
    " border: 1px solid rgba(255,90,82,0.55); border-radius: 4px; padding: 4px 9px;"
    " min-height: 22px; selection-background-color: #ff453a; selection-color: #1a0303; }\n"
    "QAbstractSpinBox:focus { border: 1px solid #ff453a; }\n"
    "QAbstractSpinBox::up-button, QAbstractSpinBox::down-button { width: 0; border: none; }\n"
    "QDateEdit::drop-down { width: 0; border: none; }\n"
    "QPushButton { color: #f3c9c6; background: transparent;"
    " border: 1px solid rgba(255,90,82,0.45); border-radius: 4px; padding: 6px 12px; }\n"
    "QPushButton:hover { border: 1px solid #ff453a; color: #ffffff; }\n"
    "QPushButton[role=\"set\"] { color: #1a0303; background: #ff453a;"
    " border: 1px solid #ff453a; border-radius: 5px; padding: 8px 18px; }\n"
    "QPushButton[role=\"set\"]:hover { background: #ff6a60; }\n"
    // Keyboard focus: a white ring, the padding giving back the extra pixel.
    "QPushButton:focus { border: 2px solid #ffffff; padding: 5px 11px; outline: none; }\n"
    "QPushButton[role=\"set\"]:focus { border: 2px solid #ffffff; padding: 7px 17px; }\n";

const QColor kWindowFill(0x2a, 0x06, 0x06);
const QColor kWindowEdge(0xff, 0x45, 0x3a);

QLabel* makeLabel(const QString& text, const char* role, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    if (role)
        label->setProperty("role", QByteArray(role));
    label->setFont(font);
    return label;
}

QPushButton* makeButton(const QString& text, const QFont& font, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFont(font);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

AlertWindow::AlertWindow(ClockWatcher* watcher_, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), watcher(watcher_)
{
    setObjectName(QStringLiteral("alertWindow"));
    buildLayout();

    connect(setButton, &QPushButton::clicked, this, &AlertWindow::onSetClicked);
    connect(actionButton, &QPushButton::clicked, this, &AlertWindow::onActionClicked);
    connect(searchButton, &QPushButton::clicked, this, &AlertWindow::searchRequested);
    // Typing is judged at once; the watcher's refresh would do it within a second anyway.
    connect(dateEditor, &QDateEdit::dateChanged, this, &AlertWindow::updateSetButton);
    connect(timeEditor, &QTimeEdit::timeChanged, this, &AlertWindow::updateSetButton);
    if (watcher) {
        connect(watcher, &ClockWatcher::changed, this, [this] {
            if (isVisible())
                refresh();
        });
    }
    refresh();
}

void AlertWindow::buildLayout()
{
    setFixedWidth(640);
    setWindowTitle(tr("Tavrin Pellum: clock alert"));
    setStyleSheet(QString::fromLatin1(kAlertStyleSheet));

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(2, 2, 2, 2);
    outer->setSpacing(0);

    auto* header = new QLabel(QStringLiteral("\u25B2  TAVRIN PELLUM  \u00B7  CLOCK ALERT"), this);
    header->setObjectName(QStringLiteral("alertHeader"));
    header->setFont(Inst::monoFont(12.5, 700, 2.2));
    header->setStyleSheet(QStringLiteral("color: #1a0303; background: #ff453a; padding: 7px 14px;"));
    // Spare height goes below the content, never into the header strip.
    header->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    outer->addWidget(header);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(20, 16, 20, 18);
    body->setSpacing(12);
    outer->addLayout(body);

    QLabel* title = makeLabel(tr("This computer's clock is wrong"), "title", Inst::uiFont(26, 700), this);
    title->setObjectName(QStringLiteral("alertTitle"));
    body->addWidget(title);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("clockPanel"));
    panel->setStyleSheet(QStringLiteral(
        "QFrame { background: %1; border: 1px solid rgba(255,90,82,0.45); border-radius: 8px; }")
                             .arg(QStringLiteral("#100202")));
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(14, 12, 14, 12);
    panelLayout->setSpacing(5);
    clockDisplay = new InstLed(78, panel);
    clockDisplay->setObjectName(QStringLiteral("clockDisplay"));
    clockDisplay->setState(InstLed::Bad);
    clockDisplay->setSizingText(QStringLiteral("00:00:00"));
    clockDisplay->setStyleSheet(QStringLiteral("border: none;"));
    clockDisplay->setAccessibleLabel(tr("Clock"));
    panelLayout->addWidget(clockDisplay, 0, Qt::AlignHCenter);
    clockLine = makeLabel(QString(), "clockline", Inst::monoFont(12.5, 400), panel);
    clockLine->setObjectName(QStringLiteral("clockLine"));
    clockLine->setAlignment(Qt::AlignHCenter);
    clockLine->setTextFormat(Qt::PlainText);
    clockLine->setStyleSheet(QStringLiteral("border: none;"));
    panelLayout->addWidget(clockLine);
    body->addWidget(panel);

    explanation = makeLabel(QString(), nullptr, Inst::uiFont(14, 400), this);
    explanation->setObjectName(QStringLiteral("explanationLabel"));
    explanation->setWordWrap(true);
    explanation->setTextFormat(Qt::RichText);
    body->addWidget(explanation);

    // Plain text: the server's name comes from the network and must not be read as markup.
    serverStatus = makeLabel(QString(), nullptr, Inst::uiFont(14, 400), this);
    serverStatus->setObjectName(QStringLiteral("serverStatusLabel"));
    serverStatus->setWordWrap(true);
    serverStatus->setTextFormat(Qt::PlainText);
    body->addWidget(serverStatus);

    const QFont captionFont = Inst::monoFont(10.5, 600, 1.2);
    const QFont editorFont = Inst::monoFont(15, 500);
    auto* editRow = new QHBoxLayout;
    editRow->setSpacing(10);
    editRow->addWidget(makeLabel(tr("DATE"), "caption", captionFont, this));
    dateEditor = new QDateEdit(this);
    dateEditor->setObjectName(QStringLiteral("dateEditor"));
    dateEditor->setFont(editorFont);
    dateEditor->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dateEditor->setAccessibleName(tr("Date"));
    editRow->addWidget(dateEditor);
    editRow->addSpacing(6);
    editRow->addWidget(makeLabel(tr("TIME"), "caption", captionFont, this));
    timeEditor = new QTimeEdit(this);
    timeEditor->setObjectName(QStringLiteral("timeEditor"));
    timeEditor->setFont(editorFont);
    timeEditor->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    timeEditor->setAccessibleName(tr("Time"));
    editRow->addWidget(timeEditor);
    editRow->addStretch();
    setButton = makeButton(tr("SET THE CLOCK"), Inst::monoFont(15, 600), this);
    setButton->setObjectName(QStringLiteral("setClockButton"));
    setButton->setProperty("role", QByteArray("set"));
    setButton->setToolTip(tr("Set this computer's clock to the date and time entered. "
                             "Asks for an administrator password."));
    editRow->addWidget(setButton);
    body->addLayout(editRow);

    auto* noteRow = new QHBoxLayout;
    noteRow->setSpacing(10);
    note = makeLabel(tr("The time cannot be set earlier than the last sync."), "note",
                     Inst::uiFont(12, 400), this);
    note->setObjectName(QStringLiteral("noteLabel"));
    noteRow->addWidget(note);
    noteRow->addStretch();
    body->addLayout(noteRow);

    const QFont buttonFont = Inst::uiFont(12.5, 500);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(10);
    searchButton = makeButton(tr("Search for a server"), buttonFont, this);
    searchButton->setObjectName(QStringLiteral("searchButton"));
    buttonRow->addWidget(searchButton);
    actionButton = makeButton(QString(), buttonFont, this);
    actionButton->setObjectName(QStringLiteral("alertActionButton"));
    buttonRow->addWidget(actionButton);
    buttonRow->addStretch();
    body->addLayout(buttonRow);
    body->addStretch(1);
}

void AlertWindow::refresh()
{
    const ClockReading r = watcher ? watcher->snapshot() : ClockReading{};
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(r.nowMs).toLocalTime();
    lastSync = QDateTime::fromMSecsSinceEpoch(r.lastSyncUtcMs).toLocalTime();
    const QString server = watcher ? watcher->serverLabel() : QString();

    clockDisplay->setText(now.toString(QStringLiteral("HH:mm:ss")));
    clockLine->setText(tr("%1  \u00B7  what this computer's clock says now")
                           .arg(now.toString(QStringLiteral("dddd, MMMM d, yyyy"))));

    // A long name is cut to fit; the whole name shows on hovering.
    const QString shown = StatusTexts::shownName(server);
    explanation->setToolTip(shown == server ? QString() : server);
    const QString withServer =
        server.isEmpty() ? QString() : tr(", with %1").arg(shown.toHtmlEscaped());
    // One substitution for both, so a "%" in the server name stays literal.
    explanation->setText(
        tr("That is <b style=\"color:#ffffff\">earlier than its last sync</b>: %1%2. "
           "A clock cannot run backwards, so it has been reset.")
            .arg(lastSync.toString(QStringLiteral("dddd, MMMM d, yyyy 'at' HH:mm:ss")), withServer));

    if (serverTimeWentBack(r)) {
        StatusTexts::setNamingText(serverStatus, tr("It agrees with %1, so it is the server's time that has gone back. "
                                                    "If that is right, accept it."), server);
        actionButton->setText(tr("Accept the server's time"));
        actionButton->setObjectName(QStringLiteral("acceptServerTimeButton"));
        actionCode = AcceptServerTimeAction;
    } else if (r.heard) {
        StatusTexts::setNamingText(serverStatus, tr("%1 is answering. This computer takes its time at the next sync; "
                                                    "sync now, or set the clock by hand."), server);
        actionButton->setText(tr("Sync now"));
        actionButton->setObjectName(QStringLiteral("syncNowButton"));
        actionCode = SyncNowAction;
    } else {
        StatusTexts::setNamingText(serverStatus, tr("No time server is answering. Set the clock by hand, or find a server."), QString());
        actionButton->setObjectName(QStringLiteral("alertActionButton"));
        actionCode = NoAction;
    }
    actionButton->setVisible(actionCode != NoAction);

    dateEditor->setMinimumDate(lastSync.date());
    if (!editorsFilled) {
        editorsFilled = true;
        dateEditor->setDate(lastSync.date());
        timeEditor->setTime(lastSync.time());
    }
    updateSetButton();
}

QDateTime AlertWindow::enteredLocal() const
{
    return QDateTime(dateEditor->date(), timeEditor->time());
}

void AlertWindow::updateSetButton()
{
    setButton->setEnabled(enteredLocal() >= lastSync);
}

void AlertWindow::onSetClicked()
{
    emit setClockRequested(enteredLocal().toUTC());
}

void AlertWindow::onActionClicked()
{
    if (actionCode == SyncNowAction)
        emit syncNowRequested();
    else if (actionCode == AcceptServerTimeAction)
        emit acceptServerTimeRequested();
}

void AlertWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kWindowFill);
    painter.setPen(QPen(kWindowEdge, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
}

void AlertWindow::showEvent(QShowEvent* event)
{
    // A window coming back from the task bar keeps what the user typed.
    if (!event->spontaneous()) {
        editorsFilled = false;
        refresh();
        // The wrapped texts decide the height; measure them at the real width.
        const int fitted = heightForWidth(width());
        if (fitted > 0)
            resize(width(), fitted);
    }
    QWidget::showEvent(event);
    emit shownOrPutAway();
}

void AlertWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    emit shownOrPutAway();
}
