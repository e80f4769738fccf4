#include "pellumwindow.h"

#include "clienttray.h"
#include "clockwatcher.h"
#include "discoveryclient.h"
#include "screenfit.h"
#include "timeservice.h"
#include "inst.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const char kAppearanceKey[] = "app.appearance";
// The size the window opens at wherever the screen has room for it.
const QSize kPreferredSize(600, 752);
// Room kept for the window manager's frame until the real one is known.
const QMargins kFrameAllowance(0, 32, 0, 0);

QLabel* makeLabel(const QString& text, const QFont& font, const char* tone, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    // Server names come off the network: never let one be read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    if (tone)
        Inst::setTone(label, tone);
    return label;
}

QPushButton* makeButton(const QString& text, Inst::ButtonRole role, const char* name,
                        QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    Inst::styleButton(button, role);
    return button;
}

} // namespace

PellumWindow::PellumWindow(ClockWatcher* watcher, QWidget* parent)
    : QWidget(parent)
    , watcher(watcher)
{
    setWindowTitle(QStringLiteral("Tavrin Pellum"));

    Inst::ensureFonts();

    // The stored choice goes to the platform before the palette is picked,
    // so that "system" is answered by the scheme the platform then reports.
    const QString stored = QSettings().value(QLatin1String(kAppearanceKey), QStringLiteral("dark")).toString();
    Inst::setAppearance(Inst::appearanceFromString(stored));
    Inst::setDark(Inst::wantsDark());

    discovery = new DiscoveryClient(this);
    timeService = new TimeServiceReader(this);
    buildWidgets();
    wireSignals();

    // On the window, not only its content, so that its dialogs wear the theme too.
    Inst::applyTheme(this);

    header->appearanceSelector()->setOnChange([this](Inst::Appearance choice) {
        QSettings().setValue(QLatin1String(kAppearanceKey), Inst::appearanceToString(choice));
        Inst::setAppearance(choice);
        retheme();
    });
    auto* scheme = new Inst::SchemeWatcher(this);
    connect(scheme, &Inst::SchemeWatcher::schemeChanged, this, &PellumWindow::retheme);

    reloadSetup();
    updateStatus();
    updateButtons();
    resize(fittedSize());
}

PellumWindow::~PellumWindow() = default;

QSize PellumWindow::fittedSize() const
{
    const QScreen* where = screen();
    if (!where)
        return kPreferredSize;
    QMargins frame = kFrameAllowance;
    if (isVisible()) {
        const QRect outer = frameGeometry();
        const QRect inner = geometry();
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    }
    const QRect room = where->availableGeometry().marginsRemoved(frame);
    return kPreferredSize.boundedTo(room.size()).expandedTo(minimumSizeHint());
}

void PellumWindow::followScreen(QScreen* where)
{
    if (followedScreen)
        disconnect(followedScreen, nullptr, this, nullptr);
    followedScreen = where;
    if (!where)
        return;
    connect(where, &QScreen::availableGeometryChanged, this, [this] { fitToScreen(); });
    connect(where, &QScreen::logicalDotsPerInchChanged, this, [this] { fitToScreen(); });
}

void PellumWindow::fitToScreen(bool keepPlace)
{
    const QScreen* where = screen();
    if (!where)
        return;
    // Nothing is cut sideways: the body keeps its own width, scroll bar included.
    scroller->setMinimumWidth(scroller->widget()->minimumSizeHint().width()
                              + scroller->verticalScrollBar()->sizeHint().width());
    const QSize fitted = fittedSize();
    if (width() > fitted.width() || height() > fitted.height())
        resize(fitted.boundedTo(size()));
    if (keepPlace)
        return;
    // Keep the whole frame, the set-up button's row included, on the screen.
    moveOntoScreen(this);
}

void PellumWindow::buildWidgets()
{
    auto* windowLayout = new QVBoxLayout(this);
    windowLayout->setContentsMargins(0, 0, 0, 0);
    content = new QWidget(this);
    content->setObjectName(QStringLiteral("instContent"));
    windowLayout->addWidget(content);

    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);

    header = new InstModuleHeader(QStringLiteral("Tavrin Pellum"), content);
    header->setObjectName(QStringLiteral("header"));
    header->setSubtitle(QStringLiteral("v%1").arg(QCoreApplication::applicationVersion()));
    header->appearanceSelector()->setValue(Inst::appearance());
    contentLayout->addWidget(header);

    // On a short screen the body scrolls: the server table gives up its
    // height first, and the action row below always stays in view.
    scroller = new QScrollArea(content);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setFocusPolicy(Qt::NoFocus);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setWidgetResizable(true);
    scroller->viewport()->setAutoFillBackground(false);
    auto* body = new QWidget(scroller);
    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(12, 12, 12, 0);
    bodyLayout->setSpacing(10);

    // Status screen: state chips, the big clock and the date line.
    auto* screen = new InstScreen(body);
    auto* screenLayout = new QVBoxLayout(screen);
    screenLayout->setContentsMargins(14, 11, 12, 12);
    screenLayout->setSpacing(5);
    statusLine = new InstStatus(screen);
    statusLine->setObjectName(QStringLiteral("statusLine"));
    statusLine->setAccessibleLabel(QStringLiteral("State"));
    // The clock's record opens beside the state it explains, inside the
    // screen that scrolls, so the action row keeps its place.
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    statusRow->addWidget(statusLine, 1);
    historyButton = makeButton(QStringLiteral("Clock history"), Inst::ButtonRole::Plain, "historyButton", screen);
    historyButton->setProperty("instSize", QByteArray("small"));
    historyButton->setToolTip(QStringLiteral("Offset and delay of every probe over the last day, as a chart and as CSV."));
    statusRow->addWidget(historyButton, 0, Qt::AlignTop);
    screenLayout->addLayout(statusRow);
    clockLed = new InstLed(64, screen);
    clockLed->setObjectName(QStringLiteral("clockLed"));
    screenLayout->addWidget(clockLed, 0, Qt::AlignHCenter);
    clockLed->setSizingText(QStringLiteral("00:00:00"));
    clockLed->setText(QStringLiteral("--:--:--"));
    clockLed->setDim(true);
    clockLed->setAccessibleLabel(QStringLiteral("Clock"));
    dateLine = makeLabel(QString(), Inst::monoFont(12.5, 400, 0), "sec", screen);
    dateLine->setObjectName(QStringLiteral("dateLine"));
    dateLine->setAlignment(Qt::AlignHCenter);
    screenLayout->addWidget(dateLine);
    bodyLayout->addWidget(screen);

    auto* readouts = new InstReadoutBar(body);
    offsetReadout = readouts->addReadout(QStringLiteral("Offset"), 10);
    lastSyncReadout = readouts->addReadout(QStringLiteral("Last sync"), 12);
    serverHeardReadout = readouts->addReadout(QStringLiteral("Server heard"), 11);
    reportedReadout = readouts->addReadout(QStringLiteral("Reported"), 8);
    offsetReadout->setObjectName(QStringLiteral("offsetReadout"));
    lastSyncReadout->setObjectName(QStringLiteral("lastSyncReadout"));
    serverHeardReadout->setObjectName(QStringLiteral("serverHeardReadout"));
    reportedReadout->setObjectName(QStringLiteral("reportedReadout"));
    offsetReadout->setToolTip(QStringLiteral(
        "How far this computer's clock is from its server's time, as Pellum measures it. "
        "In sync means within half a second."));
    reportedReadout->setToolTip(QStringLiteral(
        "Whether this computer's server has heard its report of how its clock stands. "
        "Reports go out while Pellum keeps watch in the menu bar."));
    bodyLayout->addWidget(readouts);

    auto* section = new InstSection(QStringLiteral("Time servers on this network"), body);
    searchButton = makeButton(QStringLiteral("Search again"), Inst::ButtonRole::Plain,
                              "searchButton", section);
    section->addHeaderWidget(searchButton);
    section->bodyLayout()->setContentsMargins(11, 8, 11, 8);
    serverTable = new QTableWidget(section);
    serverTable->setObjectName(QStringLiteral("serverTable"));
    setUpServerTable();
    section->bodyLayout()->addWidget(serverTable);
    bodyLayout->addWidget(section, 1);

    scanMessage = makeLabel(QString(), Inst::monoFont(11.5, 400, 0), "muted", body);
    scanMessage->setObjectName(QStringLiteral("scanMessage"));
    scanMessage->setWordWrap(true);
    bodyLayout->addWidget(scanMessage);

    selfFollowNote = makeLabel(
        QStringLiteral("This computer is set up to follow the server it runs itself, and with this "
                       "version of Tavrin Server the two chase each other. Update the server, or "
                       "click Remove\u2026 to put this computer's own time settings back."),
        Inst::uiFont(12.5, 500), "warn", body);
    selfFollowNote->setObjectName(QStringLiteral("selfFollowNote"));
    selfFollowNote->setWordWrap(true);
    selfFollowNote->hide();
    bodyLayout->addWidget(selfFollowNote);

    alertLink = makeLabel(QString(), Inst::uiFont(12.5, 500), nullptr, body);
    alertLink->setObjectName(QStringLiteral("alertLink"));
    alertLink->setTextFormat(Qt::RichText);
    alertLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    alertLink->setWordWrap(true);
    alertLink->hide();
    bodyLayout->addWidget(alertLink);

    auto* bezel = new InstBezel(QStringLiteral("This computer"), body);
    setupNote = makeLabel(QString(), Inst::uiFont(12.5, 500), nullptr, bezel);
    setupNote->setObjectName(QStringLiteral("setupNote"));
    setupNote->setWordWrap(true);
    bezel->contentLayout()->addWidget(setupNote);
    // How well the clock has been kept, from the record and from the time service itself.
    const auto addNote = [bezel](const char* name, int weight, const char* tone) {
        QLabel* note = makeLabel(QString(), Inst::uiFont(12.5, weight), tone, bezel);
        note->setObjectName(QLatin1String(name));
        note->setWordWrap(true);
        note->hide();
        bezel->contentLayout()->addWidget(note);
        return note;
    };
    heldNote = addNote("heldNote", 400, "sec");
    serviceNote = addNote("serviceNote", 400, "sec");
    keepingWarning = addNote("keepingWarning", 500, "warn");

    auto* watchRow = new QHBoxLayout;
    watchRow->setSpacing(12);
    watchToggle = new InstToggle(QStringLiteral("Keep watching in the menu bar"), bezel);
    watchToggle->setObjectName(QStringLiteral("watchToggle"));
    optionalLabel = makeLabel(QStringLiteral("Optional"), Inst::uiFont(11.5, 400), "muted", bezel);
    optionalLabel->setObjectName(QStringLiteral("optionalLabel"));
    watchRow->addWidget(watchToggle);
    watchRow->addStretch();
    watchRow->addWidget(optionalLabel);
    bezel->contentLayout()->addLayout(watchRow);

    auto* loginRow = new QHBoxLayout;
    loginRow->setSpacing(12);
    loginToggle = new InstToggle(QStringLiteral("Start Pellum at login"), bezel);
    loginToggle->setObjectName(QStringLiteral("loginToggle"));
    loginToggle->setToolTip(QStringLiteral(
        "Pellum comes back in the menu bar by itself each time you log in to this computer."));
    loginNote = makeLabel(QString(), Inst::uiFont(11.5, 400), "muted", bezel);
    loginNote->setObjectName(QStringLiteral("loginNote"));
    loginRow->addWidget(loginToggle);
    loginRow->addStretch();
    loginRow->addWidget(loginNote);
    bezel->contentLayout()->addLayout(loginRow);
    bodyLayout->addWidget(bezel);
    scroller->setWidget(body);
    // The scroll area fills its widget with the plain palette; the panel colour shows through instead.
    body->setAutoFillBackground(false);
    contentLayout->addWidget(scroller, 1);

    auto* actionBar = new QWidget(content);
    auto* actions = new QHBoxLayout(actionBar);
    actions->setContentsMargins(12, 10, 12, 12);
    actions->setSpacing(8);
    enterIpButton = makeButton(QStringLiteral("Enter IP address\u2026"), Inst::ButtonRole::Plain,
                               "enterIpButton", actionBar);
    removeButton = makeButton(QStringLiteral("Remove\u2026"), Inst::ButtonRole::Plain,
                              "removeButton", actionBar);
    syncNowButton = makeButton(QStringLiteral("Sync now"), Inst::ButtonRole::Plain,
                               "syncNowButton", actionBar);
    setupButton = makeButton(QStringLiteral("SET UP THIS COMPUTER"), Inst::ButtonRole::Primary,
                             "setupButton", actionBar);
    setupButton->setDefault(true);
    enterIpButton->setToolTip(QStringLiteral("Set up a server by its IP address if it isn't listed."));
    removeButton->setToolTip(QStringLiteral("Stop syncing this computer and put its time settings back."));
    syncNowButton->setToolTip(QStringLiteral(
        "Have this computer take the time from its server now, instead of at its next sync."));
    actions->addWidget(enterIpButton);
    actions->addWidget(removeButton);
    actions->addWidget(syncNowButton);
    actions->addStretch();
    actions->addWidget(setupButton);
    contentLayout->addWidget(actionBar);

    // Tab goes through the controls in reading order.
    QWidget* order[] = {header->appearanceSelector(), searchButton, serverTable, alertLink, watchToggle,
                        loginToggle, enterIpButton, removeButton, syncNowButton, setupButton};
    for (size_t i = 1; i < sizeof(order) / sizeof(order[0]); ++i)
        setTabOrder(order[i - 1], order[i]);
    setTabOrder(header->appearanceSelector(), historyButton);
    setTabOrder(historyButton, searchButton);

    refreshToggles();
}

void PellumWindow::wireSignals()
{
    connect(searchButton, &QPushButton::clicked, this, &PellumWindow::startScan);
    connect(historyButton, &QPushButton::clicked, this, &PellumWindow::historyRequested);
    connect(serverTable, &QTableWidget::itemSelectionChanged, this, &PellumWindow::updateButtons);
    connect(serverTable, &QTableWidget::cellDoubleClicked, this, [this] {
        if (setupButton->isEnabled())
            setupSelected();
    });
    connect(alertLink, &QLabel::linkActivated, this, [this] { emit alertRequested(); });
    connect(watchToggle, &InstToggle::toggled, this, [this](bool on) {
        emit watchingToggled(on);
        refreshToggles();
    });
    connect(loginToggle, &InstToggle::toggled, this, [this](bool on) { emit startAtLoginToggled(on); });
    connect(enterIpButton, &QPushButton::clicked, this, &PellumWindow::setupManual);
    connect(removeButton, &QPushButton::clicked, this, &PellumWindow::removeSetup);
    connect(syncNowButton, &QPushButton::clicked, this, &PellumWindow::syncNow);
    connect(setupButton, &QPushButton::clicked, this, &PellumWindow::setupSelected);
    connect(discovery, &DiscoveryClient::finished, this, &PellumWindow::onFound);
    connect(watcher, &ClockWatcher::changed, this, &PellumWindow::updateStatus);
    connect(timeService, &TimeServiceReader::updated, this, &PellumWindow::updateStatus);
}

void PellumWindow::retheme()
{
    Inst::setDark(Inst::wantsDark());
    Inst::applyTheme(this);
    const int row = serverTable->currentRow();
    fillServerTable();
    if (row >= 0 && row < serverTable->rowCount())
        serverTable->selectRow(row);
    if (!alertLink->isHidden())
        setAlertLinkShown(true);
    updateStatus();
}

void PellumWindow::setAlertLinkShown(bool show)
{
    if (show) {
        const Inst::Palette& palette = Inst::colors();
        alertLink->setText(
            QStringLiteral("<span style=\"color:%1\">This computer's clock reads earlier than its "
                           "last sync.</span> <a href=\"alert\" style=\"color:%2; "
                           "text-decoration:none\">Show the clock alert</a>")
                .arg(palette.red.name(), palette.accent.name()));
    }
    alertLink->setVisible(show);
}

void PellumWindow::setWatchingOn(bool on)
{
    const bool wasBlocked = watchToggle->blockSignals(true);
    watchToggle->setChecked(on);
    refreshToggles();
    watchToggle->blockSignals(wasBlocked);
}

void PellumWindow::setStartAtLoginOn(bool on)
{
    const bool wasBlocked = loginToggle->blockSignals(true);
    loginToggle->setChecked(on);
    refreshToggles();
    loginToggle->blockSignals(wasBlocked);
}

void PellumWindow::refreshToggles()
{
    const bool watching = watchToggle->isChecked();
    // The notification area may come or go while the program runs.
    watchToggle->setToolTip(ClientTray::hasNotificationArea()
        ? QStringLiteral("Optional. Pellum then stays in the menu bar with a lamp for this computer's clock, "
                         "starts at login, and tells the server how the clock stands. Off, Pellum only sets "
                         "this computer up and can be quit: the syncing carries on without it.")
        : QStringLiteral("Watching needs a notification area for its lamp, and this desktop has none: "
                         "while watching, closing the window only minimises it."));
    optionalLabel->setText(watching ? QString() : QStringLiteral("Optional"));
    loginToggle->setEnabled(watching);
    if (!watching && loginToggle->isChecked()) {
        // The controller deals with start at login itself when watching goes off.
        const bool wasBlocked = loginToggle->blockSignals(true);
        loginToggle->setChecked(false);
        loginToggle->blockSignals(wasBlocked);
    }
}

bool PellumWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Return in the table is the keyboard's way to the set-up button.
    if (watched == serverTable && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && setupButton->isEnabled()) {
            setupSelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PellumWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (QWindow* handle = windowHandle(); handle && !followedScreen) {
        connect(handle, &QWindow::screenChanged, this, [this](QScreen* where) {
            followScreen(where);
            fitToScreen(true);
        });
        followScreen(handle->screen());
    }
    fitToScreen();
    if (firstShowPending) {
        firstShowPending = false;
        // Choosing a server is what the window is for: the arrows work at once.
        serverTable->setFocus(Qt::OtherFocusReason);
        startScan();
    } else {
        rescanIfStale();
    }
}

void PellumWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !firstShowPending)
        rescanIfStale();
}

void PellumWindow::closeEvent(QCloseEvent* event)
{
    if (!closeToMenuBar) {
        QWidget::closeEvent(event);
        event->accept();
        return;
    }
    // Without a notification area there is no lamp to come back by: stay in
    // the task bar.
    if (ClientTray::hasNotificationArea())
        hide();
    else
        showMinimized();
    event->ignore();
    emit closedToMenuBar();
}
