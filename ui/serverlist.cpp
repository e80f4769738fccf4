// The main window's list of time servers: discovery runs, the rows and their
// ratings, the selection, and what the system is set up with.
#include "pellumwindow.h"

#include "clockwatcher.h"
#include "discoveryclient.h"
#include "inst.h"
#include "serverrating.h"
#include "statustexts.h"
#include "syncsetup.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>

namespace {

const char kAddressKey[] = "server/address";
const char kNameKey[] = "server/name";
const char kSteadyKey[] = "server/steady";
const int kListenMs = 1500;
const qint64 kStaleAfterMs = 60000;

const DiscoveredServer* findByAddress(const QList<DiscoveredServer>& servers, const QString& address)
{
    for (const DiscoveredServer& server : servers) {
        if (server.address == address)
            return &server;
    }
    return nullptr;
}

} // namespace

void PellumWindow::setUpServerTable()
{
    serverTable->setColumnCount(4);
    serverTable->setRowCount(0);
    serverTable->setHorizontalHeaderLabels({QStringLiteral("SERVER"), QStringLiteral("ADDRESS"),
                                            QStringLiteral("STRATUM"), QStringLiteral("STATUS")});
    serverTable->setFont(Inst::monoFont(12.5, 500, 0));
    QHeaderView* columns = serverTable->horizontalHeader();
    columns->setFont(Inst::monoFont(10.5, 600, 1.2));
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setHighlightSections(false);
    columns->setSectionsClickable(false);
    columns->setMinimumSectionSize(96);
    columns->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < 4; ++column)
        columns->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    serverTable->verticalHeader()->hide();
    serverTable->verticalHeader()->setDefaultSectionSize(30);
    serverTable->setShowGrid(false);
    serverTable->setFrameShape(QFrame::NoFrame);
    // Keyboard users choose with the arrows and set up with Return.
    serverTable->setFocusPolicy(Qt::StrongFocus);
    serverTable->setAccessibleName(QStringLiteral("Time servers on this network"));
    // Tab leaves the table for the next control instead of walking its cells.
    serverTable->setTabKeyNavigation(false);
    serverTable->installEventFilter(this);
    // On a short screen the table gives up its height first, down to a few rows.
    // Its own idea of a good height is ignored, or the window would scroll while
    // the table still had rows to give.
    serverTable->setMinimumHeight(columns->sizeHint().height() + 3 * 30 + 2);
    serverTable->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    serverTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    serverTable->setSelectionMode(QAbstractItemView::SingleSelection);
    serverTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

int PellumWindow::selectedIndex() const
{
    const int row = serverTable->currentRow();
    return row >= 0 && row < servers.size() && row < serverTable->rowCount() ? row : -1;
}

int PellumWindow::fillServerTable()
{
    // Start from no rows so that no selection survives a rebuild by accident;
    // callers that want it back select it again.
    serverTable->setRowCount(0);
    serverTable->setRowCount(servers.size());
    const QColor muted = Inst::colors().mut;
    const QFont nameFont = Inst::uiFont(12.5, 500);
    if (servers.isEmpty())
        return 0;

    int readyCount = 0;
    for (int row = 0; row < servers.size(); ++row) {
        const DiscoveredServer& server = servers.at(row);
        auto* name = new QTableWidgetItem(server.name);
        name->setFont(nameFont);
        // A long name is cut off in the cell; hovering shows it whole.
        name->setToolTip(server.name);
        auto* address = new QTableWidgetItem(server.address);
        auto* stratum = new QTableWidgetItem(server.stratum == 0 ? QStringLiteral("\u2014")
                                                                 : QString::number(server.stratum));
        const ServerRating::Status status = ServerRating::status(server, currentServer);
        // The word is painted by the chip; assistive tools read it from the item.
        auto* statusItem = new QTableWidgetItem(QString());
        statusItem->setData(Qt::AccessibleTextRole, ServerRating::spokenWord(status.word));
        const bool ready = ServerRating::ready(server);
        if (!ready) {
            for (QTableWidgetItem* item : {name, address, stratum, statusItem})
                item->setForeground(muted);
        }
        serverTable->setItem(row, 0, name);
        serverTable->setItem(row, 1, address);
        serverTable->setItem(row, 2, stratum);
        serverTable->setItem(row, 3, statusItem);

        auto* cell = new QWidget;
        auto* cellLayout = new QHBoxLayout(cell);
        cellLayout->setContentsMargins(0, 0, 10, 0);
        auto* chip = new InstChip(status.word, status.kind, cell);
        chip->setAccessibleName(ServerRating::spokenWord(status.word));
        cellLayout->addWidget(chip);
        cellLayout->addStretch();
        serverTable->setCellWidget(row, 3, cell);

        if (ready && !ServerRating::blockedHere(server))
            ++readyCount;
    }
    return readyCount;
}

void PellumWindow::startScan()
{
    if (discovery->isRunning())
        return;
    quietScan = false;
    scanMessage->setText(QStringLiteral("Searching for time servers\u2026"));
    searchButton->setEnabled(false);
    serverTable->setRowCount(0);
    updateButtons();
    discovery->start(kListenMs);
}

void PellumWindow::rescanIfStale()
{
    if (discovery->isRunning())
        return;
    if (sinceLastScan.isValid() && sinceLastScan.elapsed() < kStaleAfterMs)
        return;
    quietScan = true;
    searchButton->setEnabled(false);
    discovery->start(kListenMs);
}

void PellumWindow::onFound(QList<DiscoveredServer> found)
{
    QString selectedId;
    bool hadSelection = false;
    const int selected = selectedIndex();
    if (selected >= 0) {
        selectedId = servers.at(selected).id;
        hadSelection = true;
    }

    servers = found;
    sinceLastScan.restart();
    searchButton->setEnabled(true);
    const int readyCount = fillServerTable();

    if (hadSelection) {
        for (int row = 0; row < servers.size(); ++row) {
            if (servers.at(row).id == selectedId) {
                serverTable->selectRow(row);
                break;
            }
        }
    }

    QList<int> eligibleRows;
    for (int row = 0; row < servers.size(); ++row) {
        if (ServerRating::eligible(servers.at(row), currentServer))
            eligibleRows.append(row);
    }
    if (selectedIndex() < 0 && eligibleRows.size() == 1)
        serverTable->selectRow(eligibleRows.first());

    QString message;
    if (servers.isEmpty()) {
        message = QStringLiteral("No servers found. Turn on \"Advertise on network\" on the server, "
                                 "or use \"Enter IP address\u2026\".");
    } else {
        message = QStringLiteral("Found %1 server%2 (%3 ready).")
                      .arg(QString::number(servers.size()),
                           servers.size() == 1 ? QString() : QStringLiteral("s"),
                           QString::number(readyCount));
        if (eligibleRows.size() > 1 && selectedIndex() < 0)
            message += QStringLiteral(" Select one, then click Set up this computer.");
    }
    if (!(quietScan && message == lastScanMessage))
        scanMessage->setText(message);
    lastScanMessage = message;
    quietScan = false;

    if (!currentServer.isEmpty()) {
        QSettings settings;
        const DiscoveredServer* inList = findByAddress(servers, currentServer);
        QString name = inList ? inList->name : QString();
        if (!name.isEmpty()) {
            settings.setValue(QLatin1String(kAddressKey), currentServer);
            settings.setValue(QLatin1String(kNameKey), name);
            settings.setValue(QLatin1String(kSteadyKey), inList->steady);
        } else if (settings.value(QLatin1String(kAddressKey)).toString() == currentServer) {
            // Not heard this time: keep the name remembered for this address
            // rather than dropping back to the bare address.
            name = settings.value(QLatin1String(kNameKey)).toString();
        }
        watcher->setServer(currentServer, name);
        if (inList)
            watcher->setServerSteady(inList->steady);
    }

    updateButtons();
    updateStatus();
}

void PellumWindow::reloadSetup()
{
    const SyncSetup setup = readSyncSetup();
    currentServer = setup.server;
    hadPreviousSettings = setup.hasPrevious;

    const DiscoveredServer* inList = currentServer.isEmpty() ? nullptr : findByAddress(servers, currentServer);
    QString name = inList ? inList->name : QString();
    bool steady = false;
    if (!currentServer.isEmpty()) {
        QSettings settings;
        if (settings.value(QLatin1String(kAddressKey)).toString() == currentServer) {
            if (name.isEmpty())
                name = settings.value(QLatin1String(kNameKey)).toString();
            steady = settings.value(QLatin1String(kSteadyKey), false).toBool();
        }
        for (const DiscoveredServer& server : servers) {
            if (server.address == currentServer)
                steady = server.steady;
        }
    }
    watcher->setServer(currentServer, name);
    watcher->setServerSteady(steady);

    updateButtons();
    updateStatus();
}

void PellumWindow::updateButtons()
{
    const int selected = selectedIndex();
    const DiscoveredServer* server = selected >= 0 ? &servers.at(selected) : nullptr;

    const bool canSetUp = server && server->synced && server->accepting
        && !ServerRating::blockedHere(*server) && !ServerRating::inUse(*server, currentServer);
    setupButton->setEnabled(canSetUp);
    QString setupTip;
    if (!canSetUp) {
        if (!server)
            setupTip = QStringLiteral("Select a server in the list first.");
        else if (ServerRating::blockedHere(*server))
            setupTip = QStringLiteral("This server is on this computer, and this version of it cannot "
                                      "be followed from here. Update Tavrin Server.");
        else if (ServerRating::inUse(*server, currentServer))
            setupTip = QStringLiteral("This computer is already set up with this server.");
        else
            setupTip = QStringLiteral("This server is not ready yet.");
    }
    setupButton->setToolTip(setupTip);

    const bool hasSetup = !currentServer.isEmpty();
    const bool selfFollow = hasSetup && watcher->serverIsLocal() && !watcher->serverSteady();
    removeButton->setEnabled(hasSetup);
    syncNowButton->setEnabled(hasSetup && !selfFollow);
    syncNowButton->setToolTip(selfFollow
        ? QStringLiteral("Not while this computer follows the server it runs itself.")
        : QStringLiteral("Have this computer take the time from its server now, instead of at its next sync."));
    selfFollowNote->setVisible(selfFollow);

    if (!hasSetup) {
        StatusTexts::setNamingText(setupNote, QStringLiteral(
            "Not set up yet. Choose a server above and click Set up this computer. From then on this "
            "computer syncs on its own, at startup and every 30 minutes, whether or not Pellum is open."), QString());
        Inst::setTone(setupNote, "sec");
    } else {
        const QString name = watcher->serverName().isEmpty() ? currentServer : watcher->serverName();
        StatusTexts::setNamingText(setupNote, QStringLiteral(
            "Set up. This computer syncs with %1 on its own, at startup and every 30 minutes, "
            "whether or not Pellum is open."), name);
        Inst::setTone(setupNote, "");
    }
}
