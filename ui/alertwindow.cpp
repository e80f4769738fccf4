#include "alertwindow.h"

#include "clockwatcher.h"
#include "screenfit.h"
#include "instfonts.h"
#include "instled.h"
#include "statustexts.h"

#include <QDateEdit>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
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
    "QPushButton[role=\"set\"]:focus { border: 2px solid #ffffff; padding: 7px 17px; }\n"
    "QScrollBar:vertical { background: #100202; width: 10px; margin: 0; }\n"
    "QScrollBar::handle:vertical { background: rgba(255,90,82,0.45); border-radius: 4px; min-height: 24px; }\n"
    "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }\n";

const QColor kWindowFill(0x2a, 0x06, 0x06);
constexpr int kPreferredWidth = 640;
// Room for a title bar the window system adds before the window is shown.
constexpr int kTitleBarAllowance = 32;
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

    // On a short screen the body scrolls rather than squeezing the digits.
    scroller = new QScrollArea(this);
    scroller->setObjectName(QStringLiteral("alertScroller"));
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setFocusPolicy(Qt::NoFocus);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setWidgetResizable(true);
    scroller->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
    scroller->viewport()->setAutoFillBackground(false);
    auto* content = new QWidget(scroller);
    content->setAutoFillBackground(false);
    scroller->setWidget(content);
    outer->addWidget(scroller, 1);

    auto* body = new QVBoxLayout(content);
    body->setContentsMargins(20, 16, 20, 18);
    body->setSpacing(12);

    QLabel* title = makeLabel(tr("This computer's clock is wrong"), "title", Inst::uiFont(26, 700), this);
    title->setObjectName(QStringLiteral("alertTitle"));
    title->setWordWrap(true);
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
    clockLine->setWordWrap(true);
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
    // The set button goes under the editors when the window is narrow.
    editRow = new QBoxLayout(QBoxLayout::LeftToRight);
    editRow->setSpacing(10);
    auto* editors = new QHBoxLayout;
    editors->setSpacing(10);
    editRow->addLayout(editors);
    editors->addWidget(makeLabel(tr("DATE"), "caption", captionFont, this));
    dateEditor = new QDateEdit(this);
    dateEditor->setObjectName(QStringLiteral("dateEditor"));
    dateEditor->setFont(editorFont);
    dateEditor->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dateEditor->setAccessibleName(tr("Date"));
    editors->addWidget(dateEditor);
    editors->addSpacing(6);
    editors->addWidget(makeLabel(tr("TIME"), "caption", captionFont, this));
    timeEditor = new QTimeEdit(this);
    timeEditor->setObjectName(QStringLiteral("timeEditor"));
    timeEditor->setFont(editorFont);
    timeEditor->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    timeEditor->setAccessibleName(tr("Time"));
    editors->addWidget(timeEditor);
    editors->addStretch();
    editRow->addStretch();
    setButton = makeButton(tr("SET THE CLOCK"), Inst::monoFont(15, 600), this);
    setButton->setObjectName(QStringLiteral("setClockButton"));
    setButton->setProperty("role", QByteArray("set"));
    setButton->setToolTip(tr("Set this computer's clock to the date and time entered. "
                             "Asks for an administrator password."));
    editRow->addWidget(setButton, 0, Qt::AlignLeft);
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
    // A text that grew by a line (the server answering now) must not squeeze the digits.
    if (isVisible())
        fitToScreen(false);
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

void AlertWindow::fitToScreen(bool arrange)
{
    QWidget* content = scroller->widget();
    const int bar = scroller->verticalScrollBar()->sizeHint().width();
    QSize room(kPreferredWidth, QWIDGETSIZE_MAX);
    if (const QScreen* where = screen()) {
        QMargins frame(0, kTitleBarAllowance, 0, 0);
        if (isVisible() && frameGeometry() != geometry()) {
            const QRect outer = frameGeometry(), inner = geometry();
            frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                             outer.right() - inner.right(), outer.bottom() - inner.bottom());
        }
        room = where->availableGeometry().marginsRemoved(frame).size();
    }
    if (arrange) {
        const QMargins margins = content->layout()->contentsMargins();
        const int oneRow = editRow->itemAt(0)->minimumSize().width() + editRow->spacing()
            + setButton->minimumSizeHint().width() + margins.left() + margins.right();
        editRow->setDirection(oneRow + bar + 4 > room.width() ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
    }
    // Nothing is cut sideways: the body keeps its own width, a scroll bar included.
    const int least = content->minimumSizeHint().width() + bar + 4;
    scroller->setMinimumWidth(least - 4);
    layout()->activate(); // the window's least size follows at once, not at the next event
    const int width = qMax(least, qMin(kPreferredWidth, room.width()));
    // The wrapped texts decide the height; measure them at the real width.
    const int header = layout()->itemAt(0)->sizeHint().height();
    const int needed = header + content->heightForWidth(width - 4 - bar) + 4;
    resize(width, qMax(qMin(needed, room.height()), minimumSizeHint().height()));
    moveOntoScreen(this);
}

void AlertWindow::showEvent(QShowEvent* event)
{
    // A window coming back from the task bar keeps what the user typed.
    if (!event->spontaneous()) {
        editorsFilled = false;
        refresh();
        fitToScreen(true);
    }
    QWidget::showEvent(event);
    emit shownOrPutAway();
}

void AlertWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    emit shownOrPutAway();
}
