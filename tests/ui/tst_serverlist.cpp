// The main window's server list against real test servers on a private test
// LAN: each rated by what it answers, selection, and the set-up of a chosen
// server through a stand-in setup script.
#include "pellumwindow.h"

#include "clockwatcher.h"
#include "inst.h"
#include "netlan/netlan.h"
#include "windowtestkit.h"

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTest>

#include <memory>

using WindowTestKit::DialogDriver;
using WindowTestKit::SeenDialog;
using WindowTestKit::scriptRuns;

namespace {

const int kServers = 5;

QString testServerBinary()
{
    return QStringLiteral(PELLUM_BINARY_DIR "/tools/testserver/pellum-test-server");
}

struct ServerSpec {
    QString id;
    QString name;
    QString flags;
    QStringList extra;
};

} // namespace

class ServerListTest : public QObject {
    Q_OBJECT

private:
    bool startServer(const QString& ns, const QString& address, const ServerSpec& spec)
    {
        auto* process = new QProcess(this);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList args = QStringList{QStringLiteral("--listen"), address, QStringLiteral("--id"), spec.id,
                                             QStringLiteral("--name"), spec.name, QStringLiteral("--flags"), spec.flags}
            + spec.extra;
        if (ns.isEmpty())
            process->start(testServerBinary(), args);
        else
            process->start(QStringLiteral("ip"), NetLan::inNamespace(ns, testServerBinary(), args));
        servers.append(process);
        if (!process->waitForStarted(10000))
            return false;
        // The server says "ready" once its sockets are bound.
        QByteArray out;
        QElapsedTimer waited;
        waited.start();
        while (!out.contains("ready") && waited.elapsed() < 10000) {
            process->waitForReadyRead(200);
            out += process->readAllStandardOutput();
        }
        return out.contains("ready");
    }

    template <typename T>
    T* child(const char* name) const
    {
        T* w = window->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    int rowOf(const QString& name) const
    {
        auto* table = child<QTableWidget>("serverTable");
        for (int row = 0; row < table->rowCount(); ++row) {
            if (table->item(row, 0) && table->item(row, 0)->text() == name)
                return row;
        }
        return -1;
    }
    QString chipOf(const QString& name) const
    {
        const int row = rowOf(name);
        if (row < 0)
            return QString();
        auto* chip = child<QTableWidget>("serverTable")->cellWidget(row, 3)->findChild<InstChip*>();
        return chip ? chip->text() : QString();
    }
    // One search, to its end.
    bool search()
    {
        window->startScan();
        return QTest::qWaitFor([this] { return child<QPushButton>("searchButton")->isEnabled(); }, 15000);
    }

    NetLan::Lan lan;
    QList<QProcess*> servers;
    std::unique_ptr<ClockWatcher> watcher;
    std::unique_ptr<PellumWindow> window;
    DialogDriver* dialogs = nullptr;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void serversRatedByWhatTheyAnswer();
    void setUpSelectedServer();
    void questionCancelledRunsNothing();
    void silentServerIsRefused();
    void silentServerSearchAgain();
    void doubleClickOnlyWhenSetUpAllowed();
};

void ServerListTest::initTestCase()
{
    QVERIFY(QFileInfo::exists(testServerBinary()));
    QVERIFY(WindowTestKit::installStandInScript());
    lan = NetLan::fromEnvironment();
    QCOMPARE(lan.serverNs.size(), kServers);
    const QList<ServerSpec> specs{
        {QStringLiteral("atlas"), QStringLiteral("Atlas"), QStringLiteral("synced,accepting"), {}},
        {QStringLiteral("borealis"), QStringLiteral("Borealis"), QStringLiteral("accepting"), {}},
        {QStringLiteral("cirrus"), QStringLiteral("Cirrus"), QStringLiteral("synced"), {}},
        {QStringLiteral("drift"), QStringLiteral("Drift"), QStringLiteral("synced,accepting"),
         {QStringLiteral("--sntp"), QStringLiteral("silent")}},
        {QStringLiteral("echo"), QStringLiteral("Echo"), QStringLiteral("synced,accepting"), {}},
    };
    for (int i = 0; i < kServers; ++i)
        QVERIFY2(startServer(lan.serverNs.at(i), lan.serverAddr.at(i), specs.at(i)), qPrintable(specs.at(i).name));
    // One more on this very computer, of the kind that cannot be followed from it.
    QVERIFY(startServer(QString(), lan.clientAddr,
                        {QStringLiteral("here"), QStringLiteral("Here"), QStringLiteral("synced,accepting"), {}}));
    dialogs = new DialogDriver(this);
}

void ServerListTest::cleanupTestCase()
{
    for (QProcess* process : servers) {
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished(5000);
    }
}

void ServerListTest::init()
{
    QSettings().clear();
    WindowTestKit::resetScript();
    WindowTestKit::clearRecord();
    dialogs->clear();
    // Echo is the server this computer is already set up with.
    WindowTestKit::writeRecord(lan.serverAddr.at(4), false);
    watcher.reset(new ClockWatcher);
    window.reset(new PellumWindow(watcher.get()));
    QVERIFY(search());
}

void ServerListTest::cleanup()
{
    QCOMPARE(dialogs->unexpected, 0);
    QCOMPARE(dialogs->pending(), 0);
    window.reset();
    watcher.reset();
}

void ServerListTest::serversRatedByWhatTheyAnswer()
{
    auto* table = child<QTableWidget>("serverTable");
    QCOMPARE(table->rowCount(), 6);
    const QStringList names{QStringLiteral("Atlas"), QStringLiteral("Borealis"), QStringLiteral("Cirrus"),
                            QStringLiteral("Drift"), QStringLiteral("Echo"), QStringLiteral("Here")};
    for (int row = 0; row < names.size(); ++row)
        QCOMPARE(table->item(row, 0)->text(), names.at(row));
    QCOMPARE(table->item(0, 1)->text(), lan.serverAddr.at(0));
    QCOMPARE(table->item(0, 2)->text(), QStringLiteral("2"));

    QCOMPARE(chipOf(QStringLiteral("Atlas")), QStringLiteral("READY"));
    QCOMPARE(chipOf(QStringLiteral("Borealis")), QStringLiteral("NOT SYNCED YET"));
    QCOMPARE(chipOf(QStringLiteral("Cirrus")), QStringLiteral("NOT ACCEPTING"));
    QCOMPARE(chipOf(QStringLiteral("Drift")), QStringLiteral("NOT ANSWERING"));
    QCOMPARE(chipOf(QStringLiteral("Echo")), QStringLiteral("IN USE"));
    QCOMPARE(chipOf(QStringLiteral("Here")), QStringLiteral("THIS COMPUTER"));

    // Rows of servers that are not ready are muted.
    const QColor muted = Inst::colors().mut;
    QVERIFY(table->item(0, 0)->foreground().color() != muted);
    QCOMPARE(table->item(1, 0)->foreground().color(), muted);
    QCOMPARE(table->item(3, 1)->foreground().color(), muted);

    // Two can be chosen (Atlas, Drift), so nothing is picked for the user.
    QCOMPARE(child<QLabel>("scanMessage")->text(),
             QStringLiteral("Found 6 servers (2 ready). Select one, then click Set up this computer."));
    QCOMPARE(table->currentRow(), -1);

    // The set-up server, now heard, is named in the settings and the watcher.
    QCOMPARE(QSettings().value(QStringLiteral("server/address")).toString(), lan.serverAddr.at(4));
    QCOMPARE(QSettings().value(QStringLiteral("server/name")).toString(), QStringLiteral("Echo"));
    QCOMPARE(QSettings().value(QStringLiteral("server/steady")).toBool(), false);
    QCOMPARE(watcher->serverName(), QStringLiteral("Echo"));
    QVERIFY(child<QLabel>("setupNote")->text().startsWith(QStringLiteral("Set up. This computer syncs with Echo ")));
    // And it is probed: the watcher comes into sync with it.
    QTRY_COMPARE_WITH_TIMEOUT(watcher->state(), ClockState::Sync, 15000);
}

void ServerListTest::setUpSelectedServer()
{
    auto* table = child<QTableWidget>("serverTable");
    auto* setup = child<QPushButton>("setupButton");
    table->selectRow(rowOf(QStringLiteral("Atlas")));
    QVERIFY(setup->isEnabled());
    dialogs->click(QMessageBox::Ok);
    dialogs->click(QStringLiteral("Done"));
    QTest::mouseClick(setup, Qt::LeftButton);

    QCOMPARE(scriptRuns(), QStringList{QStringLiteral("install -Server ") + lan.serverAddr.at(0)});
    QCOMPARE(dialogs->seen.size(), 2);
    const SeenDialog& ask = dialogs->seen.at(0);
    QCOMPARE(ask.title, QStringLiteral("Set up syncing"));
    QCOMPARE(ask.text, QStringLiteral("Set this computer to sync its clock with \"Atlas\" (%1)?\n\nYou'll be asked "
                                      "for an administrator password.").arg(lan.serverAddr.at(0)));
    QCOMPARE(dialogs->seen.at(1).informative.left(60),
             QStringLiteral("It syncs with \"Atlas\" on its own from now on, at startup and every 30 minutes.").left(60));
    QCOMPARE(child<QLabel>("scanMessage")->text(), QStringLiteral("Done \u2014 syncing with \"Atlas\"."));

    // The new set-up shows at once, and the row stays selected.
    QCOMPARE(chipOf(QStringLiteral("Atlas")), QStringLiteral("IN USE"));
    QCOMPARE(chipOf(QStringLiteral("Echo")), QStringLiteral("READY"));
    QCOMPARE(table->currentRow(), rowOf(QStringLiteral("Atlas")));
    QVERIFY(!setup->isEnabled());
    QCOMPARE(setup->toolTip(), QStringLiteral("This computer is already set up with this server."));
    QCOMPARE(watcher->serverHost(), lan.serverAddr.at(0));
    QCOMPARE(watcher->serverName(), QStringLiteral("Atlas"));
}

void ServerListTest::questionCancelledRunsNothing()
{
    child<QTableWidget>("serverTable")->selectRow(rowOf(QStringLiteral("Atlas")));
    dialogs->click(QMessageBox::Cancel);
    window->setupSelected();
    dialogs->escape();
    window->setupSelected();
    QVERIFY(scriptRuns().isEmpty());
    QCOMPARE(dialogs->seen.size(), 2);
    QCOMPARE(watcher->serverHost(), lan.serverAddr.at(4));
}

void ServerListTest::silentServerIsRefused()
{
    child<QTableWidget>("serverTable")->selectRow(rowOf(QStringLiteral("Drift")));
    QVERIFY(child<QPushButton>("setupButton")->isEnabled());
    const QString before = child<QLabel>("scanMessage")->text();

    dialogs->click(QMessageBox::Cancel);
    window->setupSelected();
    QCOMPARE(dialogs->seen.size(), 1);
    const SeenDialog& warn = dialogs->seen.at(0);
    QCOMPARE(warn.title, QStringLiteral("Tavrin Pellum"));
    QCOMPARE(warn.icon, QMessageBox::Warning);
    QCOMPARE(warn.text, QStringLiteral("\"Drift\" did not answer a time request at %1 just now.").arg(lan.serverAddr.at(3)));
    QCOMPARE(warn.informative, QStringLiteral("It may have a new address, or not be serving time yet. Search again "
                                              "to find it where it is now."));
    QCOMPARE(warn.defaultButton, QStringLiteral("Search again"));
    QCOMPARE(warn.escapeButton, QStringLiteral("Cancel"));
    QCOMPARE(warn.buttons.size(), 3);
    QVERIFY(warn.buttons.contains(QStringLiteral("Set up anyway")));

    // Escape is Cancel; "Set up anyway" still asks before anything runs.
    dialogs->escape();
    window->setupSelected();
    dialogs->click(QStringLiteral("Set up anyway"));
    dialogs->click(QMessageBox::Cancel);
    window->setupSelected();
    QCOMPARE(dialogs->seen.size(), 4);
    QCOMPARE(dialogs->seen.at(3).title, QStringLiteral("Set up syncing"));
    QVERIFY(scriptRuns().isEmpty());
    QCOMPARE(child<QLabel>("scanMessage")->text(), before);

    // Confirmed twice, it is set up although it did not answer.
    dialogs->click(QStringLiteral("Set up anyway"));
    dialogs->click(QMessageBox::Ok);
    dialogs->click(QStringLiteral("Done"));
    window->setupSelected();
    QCOMPARE(scriptRuns(), QStringList{QStringLiteral("install -Server ") + lan.serverAddr.at(3)});
}

void ServerListTest::silentServerSearchAgain()
{
    child<QTableWidget>("serverTable")->selectRow(rowOf(QStringLiteral("Drift")));
    dialogs->click(QStringLiteral("Search again"));
    window->setupSelected();
    QVERIFY(scriptRuns().isEmpty());
    QCOMPARE(child<QLabel>("scanMessage")->text(), QStringLiteral("Searching for time servers\u2026"));
    QVERIFY(!child<QPushButton>("searchButton")->isEnabled());
    QCOMPARE(child<QTableWidget>("serverTable")->rowCount(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>("searchButton")->isEnabled(), 15000);
    QCOMPARE(child<QTableWidget>("serverTable")->rowCount(), 6);
}

void ServerListTest::doubleClickOnlyWhenSetUpAllowed()
{
    auto* table = child<QTableWidget>("serverTable");
    const int cirrus = rowOf(QStringLiteral("Cirrus"));
    table->selectRow(cirrus);
    emit table->cellDoubleClicked(cirrus, 0);
    QVERIFY(dialogs->seen.isEmpty());

    const int atlas = rowOf(QStringLiteral("Atlas"));
    table->selectRow(atlas);
    dialogs->click(QMessageBox::Cancel);
    emit table->cellDoubleClicked(atlas, 0);
    QCOMPARE(dialogs->seen.size(), 1);
    QCOMPARE(dialogs->seen.at(0).title, QStringLiteral("Set up syncing"));
}

int main(int argc, char** argv)
{
    const int outside = NetLan::reexecInside(argc, argv, kServers);
    if (outside >= 0)
        return outside;
    const NetLan::Lan lan = NetLan::fromEnvironment();
    if (!NetLan::enter(lan.clientNs)) {
        std::fprintf(stderr, "could not enter the client namespace\n");
        return 1;
    }
    QTemporaryDir scratch;
    WindowTestKit::useScratchRoot(scratch.path());
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Quorrel Two"));
    app.setApplicationName(QStringLiteral("Tavrin Pellum"));
    app.setQuitOnLastWindowClosed(false);
    ServerListTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serverlist.moc"
