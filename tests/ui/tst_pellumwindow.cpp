// The main window on its own: status panel per clock state, the alert link,
// the switches, closing, theme switching, and the set-up, removal and sync
// flows against a stand-in setup script. Runs in a private network namespace
// (the window searches the network as soon as it is shown).
#include "pellumwindow.h"

#include "inst.h"
#include "watcherstage.h"
#include "windowtestkit.h"

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <memory>

using WindowTestKit::DialogDriver;
using WindowTestKit::SeenDialog;
using WindowTestKit::clearRecord;
using WindowTestKit::enterPrivateNetwork;
using WindowTestKit::installStandInScript;
using WindowTestKit::readFile;
using WindowTestKit::recordPath;
using WindowTestKit::resetScript;
using WindowTestKit::scriptRuns;
using WindowTestKit::setScriptExitCode;
using WindowTestKit::useScratchRoot;
using WindowTestKit::writeRecord;
using WatcherStage::StagedWatcher;

namespace {

DiscoveredServer makeServer(const QString& name, const QString& address, bool ready = true)
{
    DiscoveredServer s;
    s.id = QStringLiteral("id-") + name;
    s.name = name;
    s.address = address;
    s.stratum = 2;
    s.synced = true;
    s.accepting = true;
    s.answered = ready;
    return s;
}

} // namespace

class PellumWindowTest : public QObject {
    Q_OBJECT

private:
    // A fresh watcher and window; the watcher's probes go to the loopback server.
    void build()
    {
        window.reset();
        watcher.reset(new StagedWatcher(timeServer->port()));
        window.reset(new PellumWindow(watcher.get()));
    }
    template <typename T>
    T* child(const char* name) const
    {
        T* w = window->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    QString text(const char* name) const { return child<QLabel>(name)->text(); }
    InstReadout* readout(const char* name) const { return child<InstReadout>(name); }
    QString shownValue(const char* name) const
    {
        InstReadout* r = readout(name);
        return r->led()->isHidden() ? r->valueLabel()->text() : r->led()->text();
    }

    std::unique_ptr<WatcherStage::LoopbackTimeServer> timeServer;
    std::unique_ptr<StagedWatcher> watcher;
    std::unique_ptr<PellumWindow> window;
    DialogDriver* dialogs = nullptr;

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noServerState();
    void serverDoesNotAnswer();
    void syncStateAndSelfFollow();
    void offState();
    void lostState();
    void wrongState();
    void reportedReadout();
    void alertLinkShowsAndRecolours();
    void togglesSetByProgramStayQuiet();
    void watchingOffSwitchesLoginOff();
    void closeHidesOnlyWhenAsked();
    void firstShowSearchesLaterShowsDoNot();
    void foundMessagesAndSelection();
    void themeSwitchKeepsSelection();

    void typedAddressRefusals_data();
    void typedAddressRefusals();
    void typedLoopbackNeedsSteadyServerHere();
    void typedAddressSetsUp();
    void setUpDoneOffersMenuBar();
    void quitPellumWaitsForTheBox();
    void installNoAnswerAndFailure();
    void failingInstallLeavesEverything();
    void removalWording_data();
    void removalWording();
    void removalCancelledOrFailed();
    void syncNowOutcomes();
    void syncNowWhenNotSetUpDoesNothing();
};

void PellumWindowTest::initTestCase()
{
    QVERIFY(installStandInScript());
    timeServer.reset(new WatcherStage::LoopbackTimeServer);
    dialogs = new DialogDriver(this);
}

void PellumWindowTest::init()
{
    QSettings().clear();
    clearRecord();
    resetScript();
    dialogs->clear();
    timeServer->skewMs = 0;
    Inst::setAppearance(Inst::Appearance::Dark);
    Inst::setDark(true);
}

void PellumWindowTest::cleanup()
{
    QCOMPARE(dialogs->unexpected, 0);
    QCOMPARE(dialogs->pending(), 0);
    window.reset();
    watcher.reset();
}

void PellumWindowTest::noServerState()
{
    build();
    QCOMPARE(watcher->state(), ClockState::None);
    auto* status = child<InstStatus>("statusLine");
    QCOMPARE(status->text(), QStringLiteral("No server"));
    QCOMPARE(status->mainChip()->kind(), InstChip::Bad);
    QCOMPARE(status->mainChip()->text(), QStringLiteral("NO SERVER"));
    QVERIFY(status->detailChip()->isHidden());
    QVERIFY(text("dateLine").endsWith(QStringLiteral("  \u00b7  this computer has never synced")));
    QCOMPARE(child<InstModuleHeader>("header")->dot()->color(), stateColor(ClockState::None));

    InstReadout* offset = readout("offsetReadout");
    QVERIFY(!offset->led()->isHidden());
    QVERIFY(offset->led()->dim());
    QCOMPARE(offset->led()->text(), QStringLiteral("-.---"));
    QCOMPARE(shownValue("lastSyncReadout"), QStringLiteral("never"));
    QCOMPARE(shownValue("serverHeardReadout"), QStringLiteral("never"));
    QCOMPARE(shownValue("reportedReadout"), QStringLiteral("off"));
    QCOMPARE(readout("reportedReadout")->valueLabel()->property("tone").toByteArray(), QByteArray("muted"));

    auto* clock = child<InstLed>("clockLed");
    QVERIFY(!clock->dim());
    QCOMPARE(clock->state(), InstLed::Go);
    QCOMPARE(clock->text().size(), 8);

    QVERIFY(text("setupNote").startsWith(QStringLiteral("Not set up yet.")));
    QCOMPARE(child<QLabel>("setupNote")->property("tone").toByteArray(), QByteArray("sec"));
    QVERIFY(!child<QPushButton>("removeButton")->isEnabled());
    QVERIFY(!child<QPushButton>("syncNowButton")->isEnabled());
    QVERIFY(!child<QPushButton>("setupButton")->isEnabled());
    QCOMPARE(child<QPushButton>("setupButton")->toolTip(), QStringLiteral("Select a server in the list first."));
    QVERIFY(child<QLabel>("selfFollowNote")->isHidden());
    QVERIFY(child<QLabel>("alertLink")->isHidden());
    QCOMPARE(window->windowTitle(), QStringLiteral("Tavrin Pellum"));
    QCOMPARE(window->minimumSize(), QSize(600, 752));
}

void PellumWindowTest::serverDoesNotAnswer()
{
    // Set up with an address nothing answers at, never synced.
    writeRecord(QStringLiteral("127.0.0.3"), false);
    build();
    window->updateStatus();
    QCOMPARE(child<InstStatus>("statusLine")->text(), QStringLiteral("No server - 127.0.0.3 does not answer"));
    QVERIFY(!child<InstStatus>("statusLine")->detailChip()->isHidden());
    QCOMPARE(child<InstStatus>("statusLine")->detailChip()->text(), QStringLiteral("127.0.0.3 DOES NOT ANSWER"));
    QVERIFY(text("setupNote").startsWith(QStringLiteral("Set up. This computer syncs with 127.0.0.3 on its own")));
    QVERIFY(child<QPushButton>("removeButton")->isEnabled());
}

void PellumWindowTest::syncStateAndSelfFollow()
{
    writeRecord(QStringLiteral("127.0.0.1"), false);
    QSettings().setValue(QStringLiteral("server/address"), QStringLiteral("127.0.0.1"));
    QSettings().setValue(QStringLiteral("server/name"), QStringLiteral("Lab clock"));
    QSettings().setValue(QStringLiteral("server/steady"), false);
    build();
    QCOMPARE(watcher->serverName(), QStringLiteral("Lab clock"));
    QTRY_COMPARE_WITH_TIMEOUT(watcher->state(), ClockState::Sync, 20000);
    window->updateStatus();

    auto* status = child<InstStatus>("statusLine");
    QCOMPARE(status->text(), QStringLiteral("In sync - Lab clock"));
    QCOMPARE(status->mainChip()->kind(), InstChip::Go);
    QCOMPARE(status->detailChip()->kind(), InstChip::Info);
    QVERIFY(text("dateLine").endsWith(QStringLiteral("this computer's clock")));
    QCOMPARE(readout("offsetReadout")->unitLabel()->text(), QStringLiteral("s"));
    QVERIFY(!readout("offsetReadout")->led()->dim());
    QVERIFY(readout("offsetReadout")->led()->text().startsWith(QStringLiteral("0.")));
    QCOMPARE(readout("serverHeardReadout")->unitLabel()->text(), QStringLiteral("s ago"));
    QVERIFY(!readout("lastSyncReadout")->led()->isHidden());
    QCOMPARE(child<InstModuleHeader>("header")->dot()->color(), stateColor(ClockState::Sync));

    // Following the server on this very computer, not steady: warned, no sync now.
    QVERIFY(watcher->serverIsLocal());
    QVERIFY(!child<QLabel>("selfFollowNote")->isHidden());
    QVERIFY(!child<QPushButton>("syncNowButton")->isEnabled());
    QCOMPARE(child<QPushButton>("syncNowButton")->toolTip(),
             QStringLiteral("Not while this computer follows the server it runs itself."));
    QVERIFY(child<QPushButton>("removeButton")->isEnabled());
    QCOMPARE(text("setupNote"),
             QStringLiteral("Set up. This computer syncs with Lab clock on its own, at startup and every "
                            "30 minutes, whether or not Pellum is open."));
    QCOMPARE(child<QLabel>("setupNote")->property("tone").toByteArray(), QByteArray(""));

    // A name off the network is shown as typed, never read as markup.
    QSettings().setValue(QStringLiteral("server/name"), QStringLiteral("<b>Lab</b> clock"));
    window->reloadSetup();
    QVERIFY(text("setupNote").contains(QStringLiteral("<b>Lab</b> clock")));
    QCOMPARE(child<QLabel>("setupNote")->textFormat(), Qt::PlainText);

    // Marked steady: the two no longer chase each other.
    QSettings().setValue(QStringLiteral("server/steady"), true);
    window->reloadSetup();
    QVERIFY(child<QLabel>("selfFollowNote")->isHidden());
    QVERIFY(child<QPushButton>("syncNowButton")->isEnabled());
    QCOMPARE(child<QPushButton>("syncNowButton")->toolTip(),
             QStringLiteral("Have this computer take the time from its server now, instead of at its next sync."));
}

void PellumWindowTest::offState()
{
    timeServer->skewMs = 30000;
    writeRecord(QStringLiteral("127.0.0.1"), false);
    build();
    QTRY_COMPARE_WITH_TIMEOUT(watcher->state(), ClockState::Off, 20000);
    window->updateStatus();
    const QString line = child<InstStatus>("statusLine")->text();
    QVERIFY2(line.startsWith(QStringLiteral("Clock is off - ")) && line.endsWith(QStringLiteral(" s behind 127.0.0.1")),
             qPrintable(line));
    QCOMPARE(child<InstStatus>("statusLine")->mainChip()->kind(), InstChip::Warn);
    // 30 s shows as a duration text, without a unit.
    InstReadout* offset = readout("offsetReadout");
    QVERIFY(offset->led()->isHidden());
    QVERIFY(offset->valueLabel()->text().endsWith(QStringLiteral(" s")));
    QVERIFY(offset->unitLabel()->isHidden());
}

void PellumWindowTest::lostState()
{
    const qint64 lastSync = QDateTime::currentMSecsSinceEpoch() - 5 * 60000 - 500;
    QSettings().setValue(QStringLiteral("clock/lastSyncUtcMs"), lastSync);
    build();
    QCOMPARE(watcher->state(), ClockState::Lost);
    window->updateStatus();
    QCOMPARE(child<InstStatus>("statusLine")->text(), QStringLiteral("Server not heard - Last synced 5 min ago"));
    QCOMPARE(child<InstStatus>("statusLine")->mainChip()->kind(), InstChip::Warn);
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(lastSync);
    QVERIFY(text("dateLine").endsWith(QStringLiteral("running on its own since ") + when.toString(QStringLiteral("HH:mm:ss"))));
    QCOMPARE(shownValue("serverHeardReadout"), QStringLiteral("no answer"));
    const bool today = when.date() == QDate::currentDate();
    QCOMPARE(shownValue("lastSyncReadout"),
             when.toString(today ? QStringLiteral("HH:mm:ss") : QStringLiteral("d MMM yyyy")));
}

void PellumWindowTest::wrongState()
{
    QSettings().setValue(QStringLiteral("clock/lastSyncUtcMs"), QDateTime::currentMSecsSinceEpoch() + 3600000);
    build();
    QCOMPARE(watcher->state(), ClockState::Wrong);
    window->updateStatus();
    auto* status = child<InstStatus>("statusLine");
    QCOMPARE(status->text(), QStringLiteral("Clock wrong - Earlier than its last sync"));
    QCOMPARE(status->mainChip()->kind(), InstChip::Bad);
    QCOMPARE(status->detailChip()->kind(), InstChip::Sec);
    QCOMPARE(child<InstLed>("clockLed")->state(), InstLed::Bad);
    QCOMPARE(child<InstModuleHeader>("header")->dot()->color(), stateColor(ClockState::Wrong));
}

void PellumWindowTest::reportedReadout()
{
    build();
    QCOMPARE(shownValue("reportedReadout"), QStringLiteral("off"));
    watcher->setReporting(true);
    window->updateStatus();
    QCOMPARE(shownValue("reportedReadout"), QStringLiteral("not heard"));
    QCOMPARE(readout("reportedReadout")->valueLabel()->property("tone").toByteArray(), QByteArray("sec"));
    watcher->setReporting(false);
    window->updateStatus();
    QCOMPARE(readout("reportedReadout")->valueLabel()->property("tone").toByteArray(), QByteArray("muted"));
}

void PellumWindowTest::alertLinkShowsAndRecolours()
{
    build();
    auto* link = child<QLabel>("alertLink");
    QSignalSpy asked(window.get(), &PellumWindow::alertRequested);
    window->setAlertLinkShown(true);
    QVERIFY(!link->isHidden());
    QVERIFY(link->text().contains(QStringLiteral("color:#ff453a")));
    QVERIFY(link->text().contains(QStringLiteral("color:#45c7f5; text-decoration:none\">Show the clock alert</a>")));
    QVERIFY(link->text().contains(QStringLiteral("This computer's clock reads earlier than its last sync.")));
    emit link->linkActivated(QStringLiteral("alert"));
    QCOMPARE(asked.count(), 1);

    // Light appearance from the header's selector: stored, and the link follows.
    auto* selector = child<InstModuleHeader>("header")->appearanceSelector();
    QTest::mouseClick(selector, Qt::LeftButton, {}, QPoint(35, 10));
    QCOMPARE(QSettings().value(QStringLiteral("app.appearance")).toString(), QStringLiteral("light"));
    QVERIFY(!Inst::colors().dark);
    QVERIFY(link->text().contains(QStringLiteral("color:#ff3b30")));
    QVERIFY(link->text().contains(QStringLiteral("color:#0e85b8")));

    window->setAlertLinkShown(false);
    QVERIFY(link->isHidden());
    // Hidden, a theme change leaves it hidden.
    QTest::mouseClick(selector, Qt::LeftButton, {}, QPoint(58, 10));
    QVERIFY(Inst::colors().dark);
    QVERIFY(link->isHidden());
}

void PellumWindowTest::togglesSetByProgramStayQuiet()
{
    build();
    auto* watch = child<InstToggle>("watchToggle");
    auto* login = child<InstToggle>("loginToggle");
    QSignalSpy watching(window.get(), &PellumWindow::watchingToggled);
    QSignalSpy atLogin(window.get(), &PellumWindow::startAtLoginToggled);

    QVERIFY(!login->isEnabled());
    QCOMPARE(text("optionalLabel"), QStringLiteral("Optional"));
    window->setWatchingOn(true);
    window->setStartAtLoginOn(true);
    QVERIFY(watch->isChecked());
    QVERIFY(login->isChecked());
    QVERIFY(login->isEnabled());
    QCOMPARE(text("optionalLabel"), QString());
    QCOMPARE(watching.count(), 0);
    QCOMPARE(atLogin.count(), 0);
    QVERIFY(!watch->signalsBlocked());
    QVERIFY(!login->signalsBlocked());

    // The user's clicks do speak.
    login->click();
    QCOMPARE(atLogin.count(), 1);
    QCOMPARE(atLogin.last().at(0).toBool(), false);
    login->click();
    QCOMPARE(atLogin.last().at(0).toBool(), true);
    window->setStartAtLoginOn(false);
    window->setWatchingOn(false);
    QCOMPARE(watching.count(), 0);
    QCOMPARE(atLogin.count(), 2);
}

void PellumWindowTest::watchingOffSwitchesLoginOff()
{
    build();
    window->setWatchingOn(true);
    window->setStartAtLoginOn(true);
    QSignalSpy watching(window.get(), &PellumWindow::watchingToggled);
    QSignalSpy atLogin(window.get(), &PellumWindow::startAtLoginToggled);
    child<InstToggle>("watchToggle")->click();
    QCOMPARE(watching.count(), 1);
    QCOMPARE(watching.last().at(0).toBool(), false);
    QVERIFY(!child<InstToggle>("loginToggle")->isChecked());
    QVERIFY(!child<InstToggle>("loginToggle")->isEnabled());
    QCOMPARE(atLogin.count(), 0);
    QCOMPARE(text("optionalLabel"), QStringLiteral("Optional"));
}

void PellumWindowTest::closeHidesOnlyWhenAsked()
{
    build();
    QSignalSpy hidden(window.get(), &PellumWindow::closedToMenuBar);
    window->show();
    QVERIFY(window->isVisible());
    window->closeToMenuBar = true;
    QVERIFY(!window->close());
    QVERIFY(!window->isVisible());
    QCOMPARE(hidden.count(), 1);

    window->show();
    window->closeToMenuBar = false;
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QCOMPARE(hidden.count(), 1);
}

void PellumWindowTest::firstShowSearchesLaterShowsDoNot()
{
    build();
    auto* search = child<QPushButton>("searchButton");
    window->show();
    QCOMPARE(text("scanMessage"), QStringLiteral("Searching for time servers\u2026"));
    QVERIFY(!search->isEnabled());
    // Nothing on this private network answers.
    QTRY_VERIFY_WITH_TIMEOUT(search->isEnabled(), 10000);
    QCOMPARE(text("scanMessage"),
             QStringLiteral("No servers found. Turn on \"Advertise on network\" on the server, or use "
                            "\"Enter IP address\u2026\"."));
    window->hide();
    window->show();
    // Shown again within a minute of the last result: no new run.
    QVERIFY(search->isEnabled());
    window->hide();
}

void PellumWindowTest::foundMessagesAndSelection()
{
    build();
    auto* table = child<QTableWidget>("serverTable");
    auto* setup = child<QPushButton>("setupButton");

    DiscoveredServer here = makeServer(QStringLiteral("Here"), QStringLiteral("198.18.0.2"));
    here.onThisComputer = true;
    window->onFound({here});
    QCOMPARE(text("scanMessage"), QStringLiteral("Found 1 server (0 ready)."));
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->currentRow(), -1);
    QCOMPARE(setup->toolTip(),
             QStringLiteral("Select a server in the list first."));
    table->selectRow(0);
    QVERIFY(!setup->isEnabled());
    QCOMPARE(setup->toolTip(), QStringLiteral("This server is on this computer, and this version of it "
                                              "cannot be followed from here. Update Tavrin Server."));

    window->onFound({makeServer(QStringLiteral("Alpha"), QStringLiteral("10.0.0.1"))});
    QCOMPARE(text("scanMessage"), QStringLiteral("Found 1 server (1 ready)."));
    QCOMPARE(table->currentRow(), 0);
    QVERIFY(setup->isEnabled());
    QCOMPARE(setup->toolTip(), QString());
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("Alpha"));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(table->item(0, 2)->text(), QStringLiteral("2"));

    DiscoveredServer quiet = makeServer(QStringLiteral("Beta"), QStringLiteral("10.0.0.2"), false);
    quiet.stratum = 0;
    QList<DiscoveredServer> two{makeServer(QStringLiteral("Alpha"), QStringLiteral("10.0.0.1")), quiet};
    table->clearSelection();
    table->setCurrentCell(-1, -1);
    window->onFound(two);
    QCOMPARE(text("scanMessage"),
             QStringLiteral("Found 2 servers (1 ready). Select one, then click Set up this computer."));
    QCOMPARE(table->currentRow(), -1);
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("\u2014"));
    QCOMPARE(table->item(1, 0)->foreground().color(), Inst::colors().mut);
    auto* chip = table->cellWidget(1, 3)->findChild<InstChip*>();
    QVERIFY(chip);
    QCOMPARE(chip->text(), QStringLiteral("NOT ANSWERING"));

    // A selection survives a new run by id, even when the row moves.
    table->selectRow(1);
    QVERIFY(setup->isEnabled());
    QList<DiscoveredServer> three{makeServer(QStringLiteral("Aardvark"), QStringLiteral("10.0.0.3")),
                                  makeServer(QStringLiteral("Alpha"), QStringLiteral("10.0.0.1")), quiet};
    window->onFound(three);
    QCOMPARE(table->currentRow(), 2);
    QCOMPARE(text("scanMessage"), QStringLiteral("Found 3 servers (2 ready)."));

    // The server in use is not eligible; the other one is picked.
    writeRecord(QStringLiteral("10.0.0.1"), false);
    window->reloadSetup();
    table->clearSelection();
    table->setCurrentCell(-1, -1);
    window->onFound({makeServer(QStringLiteral("Alpha"), QStringLiteral("10.0.0.1")),
                     makeServer(QStringLiteral("Gamma"), QStringLiteral("10.0.0.9"))});
    QCOMPARE(table->currentRow(), 1);
    QCOMPARE(table->cellWidget(0, 3)->findChild<InstChip*>()->text(), QStringLiteral("IN USE"));
    QCOMPARE(QSettings().value(QStringLiteral("server/name")).toString(), QStringLiteral("Alpha"));
    QCOMPARE(QSettings().value(QStringLiteral("server/address")).toString(), QStringLiteral("10.0.0.1"));
    QCOMPARE(watcher->serverName(), QStringLiteral("Alpha"));
    table->selectRow(0);
    QVERIFY(!setup->isEnabled());
    QCOMPARE(setup->toolTip(), QStringLiteral("This computer is already set up with this server."));

    // Not heard in a later run: the remembered name stays.
    window->onFound({});
    QCOMPARE(watcher->serverName(), QStringLiteral("Alpha"));
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(!setup->isEnabled());

    DiscoveredServer unsynced = makeServer(QStringLiteral("Delta"), QStringLiteral("10.0.0.4"));
    unsynced.synced = false;
    window->onFound({unsynced});
    table->selectRow(0);
    QCOMPARE(setup->toolTip(), QStringLiteral("This server is not ready yet."));
}

void PellumWindowTest::themeSwitchKeepsSelection()
{
    build();
    auto* table = child<QTableWidget>("serverTable");
    window->onFound({makeServer(QStringLiteral("Alpha"), QStringLiteral("10.0.0.1")),
                     makeServer(QStringLiteral("Beta"), QStringLiteral("10.0.0.2"), false)});
    table->selectRow(1);
    const QColor darkMuted = Inst::colors().mut;
    QTest::mouseClick(child<InstModuleHeader>("header")->appearanceSelector(), Qt::LeftButton, {}, QPoint(35, 10));
    QVERIFY(!Inst::colors().dark);
    QCOMPARE(table->currentRow(), 1);
    QVERIFY(table->item(1, 0)->isSelected());
    // Row colours come from the new palette.
    QCOMPARE(table->item(1, 0)->foreground().color(), Inst::colors().mut);
    QVERIFY(Inst::colors().mut != darkMuted);
}

void PellumWindowTest::typedAddressRefusals_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("warning"); // empty: no box at all

    const QString notIpv4 = QStringLiteral("That doesn't look like an IPv4 address. Enter it in the form 10.0.0.5.");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("spaces") << QStringLiteral("   ") << QString();
    QTest::newRow("host name") << QStringLiteral("clock.lan") << notIpv4;
    QTest::newRow("out of range") << QStringLiteral("256.1.1.1") << notIpv4;
    QTest::newRow("leading zero") << QStringLiteral("010.0.0.5") << notIpv4;
    QTest::newRow("three parts") << QStringLiteral("1.2.3") << notIpv4;
    QTest::newRow("ipv6") << QStringLiteral("fe80::1") << notIpv4;
    QTest::newRow("inner space") << QStringLiteral("10.0 .0.5") << notIpv4;
    QTest::newRow("unspecified") << QStringLiteral("0.0.0.0")
                                 << QStringLiteral("0.0.0.0 is not the address of one computer. Enter the "
                                                   "address of the computer Tavrin Server runs on, in the form 10.0.0.5.");
    QTest::newRow("broadcast") << QStringLiteral("255.255.255.255")
                               << QStringLiteral("255.255.255.255 is not the address of one computer. Enter the "
                                                 "address of the computer Tavrin Server runs on, in the form 10.0.0.5.");
}

void PellumWindowTest::typedAddressRefusals()
{
    QFETCH(QString, typed);
    QFETCH(QString, warning);
    build();
    const QString before = text("scanMessage");
    dialogs->type(typed);
    if (!warning.isEmpty())
        dialogs->click(QMessageBox::Ok);
    window->setupManual();
    QCOMPARE(dialogs->seen.size(), warning.isEmpty() ? 1 : 2);
    const SeenDialog& input = dialogs->seen.at(0);
    QCOMPARE(input.kind, QStringLiteral("input"));
    QCOMPARE(input.title, QStringLiteral("Enter server address"));
    QCOMPARE(input.label, QStringLiteral("IP address of your Tavrin server (for example, 10.0.0.5):"));
    QCOMPARE(input.text, QString());
    if (!warning.isEmpty()) {
        QCOMPARE(dialogs->seen.at(1).title, QStringLiteral("Tavrin Pellum"));
        QCOMPARE(dialogs->seen.at(1).text, warning);
        QCOMPARE(dialogs->seen.at(1).icon, QMessageBox::Warning);
        QCOMPARE(dialogs->seen.at(1).buttons, QStringList{QStringLiteral("OK")});
    }
    QVERIFY(scriptRuns().isEmpty());
    QCOMPARE(text("scanMessage"), before);

    // Cancelling the question does nothing either.
    dialogs->clear();
    dialogs->cancelInput();
    window->setupManual();
    QCOMPARE(dialogs->seen.size(), 1);
    QVERIFY(scriptRuns().isEmpty());
}

void PellumWindowTest::typedLoopbackNeedsSteadyServerHere()
{
    build();
    dialogs->type(QStringLiteral("127.0.0.1"));
    dialogs->click(QMessageBox::Ok);
    window->setupManual();
    QCOMPARE(dialogs->seen.size(), 2);
    QCOMPARE(dialogs->seen.at(1).text,
             QStringLiteral("127.0.0.1 is this computer. The server on it cannot be followed from this same "
                            "computer: the two would chase each other. Update Tavrin Server, then search again."));
    QVERIFY(scriptRuns().isEmpty());

    // With a steady server listed on this computer, it may be followed.
    DiscoveredServer steady = makeServer(QStringLiteral("Here"), QStringLiteral("127.0.0.1"));
    steady.onThisComputer = true;
    steady.steady = true;
    window->onFound({steady});
    dialogs->clear();
    dialogs->type(QStringLiteral("127.0.0.1"));
    dialogs->click(QStringLiteral("Done"));
    window->setupManual();
    QCOMPARE(scriptRuns(), QStringList{QStringLiteral("install -Server 127.0.0.1")});
}

void PellumWindowTest::typedAddressSetsUp()
{
    build();
    dialogs->type(QStringLiteral("  10.0.0.5  "));
    dialogs->escape(); // the closing box: Escape is Done
    window->setupManual();
    QCOMPARE(scriptRuns(), QStringList{QStringLiteral("install -Server 10.0.0.5")});
    QCOMPARE(text("scanMessage"), QStringLiteral("Done \u2014 syncing with the server at 10.0.0.5."));
    QCOMPARE(dialogs->seen.size(), 2);
    const SeenDialog& done = dialogs->seen.at(1);
    QCOMPARE(done.title, QStringLiteral("Tavrin Pellum"));
    QCOMPARE(done.icon, QMessageBox::Information);
    QCOMPARE(done.text, QStringLiteral("This computer is set up."));
    QCOMPARE(done.informative,
             QStringLiteral("It syncs with the server at 10.0.0.5 on its own from now on, at startup and every "
                            "30 minutes. Pellum does not need to stay open.\n\nKeeping Pellum in the menu bar is "
                            "optional: it shows a lamp for this computer's clock and tells the server how the "
                            "clock stands."));
    QCOMPARE(done.defaultButton, QStringLiteral("Done"));
    QCOMPARE(done.escapeButton, QStringLiteral("Done"));
    QVERIFY(done.buttons.contains(QStringLiteral("Keep in the Menu Bar")));
    QVERIFY(done.buttons.contains(QStringLiteral("Quit Pellum")));
    QCOMPARE(done.buttons.size(), 3);

    QCOMPARE(watcher->serverHost(), QStringLiteral("10.0.0.5"));
    QVERIFY(text("setupNote").startsWith(QStringLiteral("Set up. This computer syncs with 10.0.0.5 on its own")));
    QVERIFY(child<QPushButton>("removeButton")->isEnabled());
    QVERIFY(child<QPushButton>("enterIpButton")->isEnabled());
    QVERIFY(!child<InstToggle>("watchToggle")->isChecked());
}

void PellumWindowTest::setUpDoneOffersMenuBar()
{
    build();
    QSignalSpy watching(window.get(), &PellumWindow::watchingToggled);
    dialogs->click(QStringLiteral("Keep in the Menu Bar"));
    window->showSetupDone(QStringLiteral("\"Atlas\""));
    QCOMPARE(watching.count(), 1);
    QCOMPARE(watching.last().at(0).toBool(), true);
    QVERIFY(child<InstToggle>("loginToggle")->isEnabled());

    // With watching on, the box only confirms.
    dialogs->clear();
    dialogs->click(QMessageBox::Ok);
    window->showSetupDone(QStringLiteral("\"Atlas\""));
    QCOMPARE(dialogs->seen.at(0).informative,
             QStringLiteral("It syncs with \"Atlas\" on its own from now on, at startup and every 30 minutes."));
    QCOMPARE(dialogs->seen.at(0).buttons, QStringList{QStringLiteral("OK")});

}

void PellumWindowTest::quitPellumWaitsForTheBox()
{
    build();
    dialogs->click(QStringLiteral("Quit Pellum"));
    bool boxGoneWhenShowReturned = false;
    bool quitBeforeReturn = false;
    bool returned = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, this, [&] { quitBeforeReturn = !returned; });
    QTimer::singleShot(0, this, [&] {
        window->showSetupDone(QStringLiteral("\"Atlas\""));
        returned = true;
        boxGoneWhenShowReturned = QApplication::activeModalWidget() == nullptr;
    });
    QTimer safety;
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    safety.start(20000);
    QCOMPARE(QApplication::exec(), 0);
    safety.stop();
    disconnect(qApp, &QCoreApplication::aboutToQuit, this, nullptr);
    QVERIFY(returned);
    QVERIFY(!quitBeforeReturn);
    QVERIFY(boxGoneWhenShowReturned);
}

void PellumWindowTest::installNoAnswerAndFailure()
{
    build();
    setScriptExitCode(3);
    dialogs->type(QStringLiteral("10.0.0.6"));
    dialogs->click(QMessageBox::Ok);
    window->setupManual();
    QCOMPARE(text("scanMessage"), QStringLiteral("Set up, but 10.0.0.6 did not answer."));
    QCOMPARE(dialogs->seen.at(1).text,
             QStringLiteral("10.0.0.6 did not answer a time request.\n\nThis computer is set up and keeps trying "
                            "at startup and every 30 minutes. Check the address, and that Tavrin Server is "
                            "running there. To undo the setup, click Remove\u2026."));
    QCOMPARE(dialogs->seen.at(1).icon, QMessageBox::Warning);
    QCOMPARE(watcher->serverHost(), QStringLiteral("10.0.0.6"));

    setScriptExitCode(1);
    dialogs->clear();
    dialogs->type(QStringLiteral("10.0.0.7"));
    dialogs->click(QMessageBox::Ok);
    window->setupManual();
    QCOMPARE(text("scanMessage"), QStringLiteral("Setup did not complete."));
    QCOMPARE(dialogs->seen.at(1).text, QStringLiteral("The administrator step reported an error."));
    // The script left the earlier set-up in place, and that is what shows.
    QCOMPARE(watcher->serverHost(), QStringLiteral("10.0.0.6"));
}

void PellumWindowTest::failingInstallLeavesEverything()
{
    writeRecord(QStringLiteral("10.0.0.1"), true);
    QSettings().setValue(QStringLiteral("server/address"), QStringLiteral("10.0.0.1"));
    QSettings().setValue(QStringLiteral("server/name"), QStringLiteral("Alpha"));
    build();
    auto* table = child<QTableWidget>("serverTable");
    window->onFound({makeServer(QStringLiteral("Alpha"), QStringLiteral("10.0.0.1")),
                     makeServer(QStringLiteral("Beta"), QStringLiteral("10.0.0.2"))});
    QCOMPARE(table->currentRow(), 1);
    const QByteArray record = readFile(recordPath());

    setScriptExitCode(2);
    dialogs->type(QStringLiteral("10.0.0.8"));
    dialogs->click(QMessageBox::Ok);
    window->setupManual();
    QCOMPARE(scriptRuns(), QStringList{QStringLiteral("install -Server 10.0.0.8")});
    QCOMPARE(readFile(recordPath()), record);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->currentRow(), 1);
    QVERIFY(table->item(1, 0)->isSelected());
    QCOMPARE(table->cellWidget(0, 3)->findChild<InstChip*>()->text(), QStringLiteral("IN USE"));
    QCOMPARE(QSettings().value(QStringLiteral("server/name")).toString(), QStringLiteral("Alpha"));
    QCOMPARE(QSettings().value(QStringLiteral("server/address")).toString(), QStringLiteral("10.0.0.1"));
    QCOMPARE(watcher->serverHost(), QStringLiteral("10.0.0.1"));
    QCOMPARE(watcher->serverName(), QStringLiteral("Alpha"));
    QVERIFY(child<QPushButton>("setupButton")->isEnabled());
    QVERIFY(child<QPushButton>("removeButton")->isEnabled());
    QVERIFY(child<QPushButton>("enterIpButton")->isEnabled());
}

void PellumWindowTest::removalWording_data()
{
    QTest::addColumn<bool>("hasPrevious");
    QTest::addColumn<QString>("restoreTo");
    QTest::newRow("kept settings") << true << QStringLiteral("what they were before setup");
    QTest::newRow("standard settings")
        << false << QStringLiteral("the standard settings (0.debian.pool.ntp.org)");
}

void PellumWindowTest::removalWording()
{
    QFETCH(bool, hasPrevious);
    QFETCH(QString, restoreTo);
    writeRecord(QStringLiteral("10.0.0.5"), hasPrevious);
    build();
    dialogs->click(QStringLiteral("Remove"));
    dialogs->click(QMessageBox::Ok);
    window->removeSetup();
    QCOMPARE(scriptRuns(), QStringList{QStringLiteral("remove")});
    QCOMPARE(dialogs->seen.size(), 2);
    const SeenDialog& ask = dialogs->seen.at(0);
    QCOMPARE(ask.title, QStringLiteral("Remove syncing"));
    QCOMPARE(ask.icon, QMessageBox::Question);
    QCOMPARE(ask.text, QStringLiteral("Stop syncing this computer with 10.0.0.5?"));
    QCOMPARE(ask.informative, QStringLiteral("Its time settings go back to %1. You'll be asked for an "
                                             "administrator password.").arg(restoreTo));
    QCOMPARE(ask.defaultButton, QStringLiteral("Cancel"));
    QCOMPARE(ask.buttons.size(), 2);
    const SeenDialog& told = dialogs->seen.at(1);
    QCOMPARE(told.title, QStringLiteral("Tavrin Pellum"));
    QCOMPARE(told.icon, QMessageBox::Information);
    QCOMPARE(told.text, QStringLiteral("This computer no longer syncs with 10.0.0.5. Its time settings are "
                                       "back to %1.").arg(restoreTo));
    QCOMPARE(text("scanMessage"), QStringLiteral("Removed \u2014 no longer syncing with 10.0.0.5."));
    QVERIFY(watcher->serverHost().isEmpty());
    QVERIFY(!child<QPushButton>("removeButton")->isEnabled());
    QVERIFY(text("setupNote").startsWith(QStringLiteral("Not set up yet.")));
}

void PellumWindowTest::removalCancelledOrFailed()
{
    writeRecord(QStringLiteral("10.0.0.5"), false);
    build();
    dialogs->click(QMessageBox::Cancel);
    window->removeSetup();
    dialogs->escape();
    window->removeSetup();
    QVERIFY(scriptRuns().isEmpty());
    QCOMPARE(watcher->serverHost(), QStringLiteral("10.0.0.5"));

    setScriptExitCode(1);
    dialogs->clear();
    dialogs->click(QStringLiteral("Remove"));
    dialogs->click(QMessageBox::Ok);
    window->removeSetup();
    QCOMPARE(scriptRuns(), QStringList{QStringLiteral("remove")});
    QCOMPARE(text("scanMessage"), QStringLiteral("Removal did not complete."));
    QCOMPARE(dialogs->seen.at(1).text, QStringLiteral("The administrator step reported an error."));
    QCOMPARE(dialogs->seen.at(1).icon, QMessageBox::Warning);
    QCOMPARE(watcher->serverHost(), QStringLiteral("10.0.0.5"));
    QVERIFY(child<QPushButton>("removeButton")->isEnabled());

    // A removal whose sync found no server still counts as done.
    setScriptExitCode(3);
    dialogs->clear();
    dialogs->click(QStringLiteral("Remove"));
    dialogs->click(QMessageBox::Ok);
    window->removeSetup();
    QCOMPARE(text("scanMessage"), QStringLiteral("Removed \u2014 no longer syncing with 10.0.0.5."));
}

void PellumWindowTest::syncNowOutcomes()
{
    writeRecord(QStringLiteral("10.0.0.5"), false);
    build();
    window->syncNow();
    QCOMPARE(text("scanMessage"), QStringLiteral("Synced with 10.0.0.5."));
    setScriptExitCode(3);
    window->syncNow();
    QCOMPARE(text("scanMessage"), QStringLiteral("10.0.0.5 did not answer a time request."));
    setScriptExitCode(5);
    window->syncNow();
    QCOMPARE(text("scanMessage"), QStringLiteral("The sync did not complete."));
    QCOMPARE(scriptRuns(), (QStringList{QStringLiteral("sync"), QStringLiteral("sync"), QStringLiteral("sync")}));
    QVERIFY(dialogs->seen.isEmpty());
}

void PellumWindowTest::syncNowWhenNotSetUpDoesNothing()
{
    build();
    const QString before = text("scanMessage");
    window->syncNow();
    QVERIFY(scriptRuns().isEmpty());
    QCOMPARE(text("scanMessage"), before);
    QVERIFY(dialogs->seen.isEmpty());
}

int main(int argc, char** argv)
{
    if (!enterPrivateNetwork()) {
        std::fprintf(stderr, "SKIP: needs root for a private network namespace\n");
        return 77;
    }
    QTemporaryDir scratch;
    useScratchRoot(scratch.path());
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Quorrel Two"));
    app.setApplicationName(QStringLiteral("Tavrin Pellum"));
    app.setQuitOnLastWindowClosed(false);
    PellumWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pellumwindow.moc"
