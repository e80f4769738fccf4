// The main window's set-up, removal and sync flows. Each change is one
// privileged step; afterwards the set-up is read back from the system, so the
// window shows what the script actually left behind.
#include "pellumwindow.h"

#include "adminstep.h"
#include "addresscheck.h"
#include "clockwatcher.h"
#include "insttoggle.h"
#include "serverrating.h"
#include "statustexts.h"
#include "timeserverprobe.h"
#include "waitcursor.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

namespace {

const int kCheckTimeoutMs = 500;

QString title()
{
    return QStringLiteral("Tavrin Pellum");
}

// Informative texts carry server names from the network; the box offers no
// format for them, so its label is made plain directly.
void keepPlain(QMessageBox& box)
{
    box.setTextFormat(Qt::PlainText);
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
}

} // namespace

QString PellumWindow::standardSettingsName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("the standard Windows settings");
#else
    // Naming Windows on a Linux desktop would only confuse.
    return QStringLiteral("the standard settings");
#endif
}

QString PellumWindow::standardTimeServer()
{
#ifdef Q_OS_WIN
    return QStringLiteral("time.windows.com");
#else
    return QStringLiteral("0.debian.pool.ntp.org");
#endif
}

void PellumWindow::setupSelected()
{
    const int selected = selectedIndex();
    if (selected < 0)
        return;
    const DiscoveredServer server = servers.at(selected);
    if (!server.synced || !server.accepting || ServerRating::blockedHere(server)
        || ServerRating::inUse(server, currentServer))
        return;

    bool answered = false;
    {
        WaitCursor wait;
        answered = probeTimeServer(server.address, kCheckTimeoutMs);
    }

    if (!answered) {
        QMessageBox box(this);
        box.setWindowTitle(title());
        box.setIcon(QMessageBox::Warning);
        box.setTextFormat(Qt::PlainText);
        box.setText(QStringLiteral("\"%1\" did not answer a time request at %2 just now.")
                        .arg(server.name, server.address));
        box.setInformativeText(QStringLiteral(
            "It may have a new address, or not be serving time yet. Search again to find it where "
            "it is now."));
        box.setStandardButtons(QMessageBox::Cancel);
        QPushButton* searchAgain = box.addButton(QStringLiteral("Search again"), QMessageBox::AcceptRole);
        QPushButton* anyway = box.addButton(QStringLiteral("Set up anyway"), QMessageBox::DestructiveRole);
        box.setDefaultButton(searchAgain);
        box.setEscapeButton(QMessageBox::Cancel);
        box.exec();
        if (box.clickedButton() == searchAgain) {
            startScan();
            return;
        }
        if (box.clickedButton() != anyway)
            return;
    }

    QMessageBox confirm(QMessageBox::Question, QStringLiteral("Set up syncing"),
                        QStringLiteral("Set this computer to sync its clock with \"%1\" (%2)?\n\n"
                                       "You'll be asked for an administrator password.")
                            .arg(server.name, server.address),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
    confirm.setTextFormat(Qt::PlainText);
    if (confirm.exec() != QMessageBox::Ok)
        return;

    runInstall(server.address, QStringLiteral("\"%1\"").arg(server.name));
}

void PellumWindow::setupManual()
{
    bool ok = false;
    const QString typed = QInputDialog::getText(
        this, QStringLiteral("Enter server address"),
        QStringLiteral("IP address of your Tavrin server (for example, 10.0.0.5):"),
        QLineEdit::Normal, QString(), &ok).trimmed();
    if (!ok || typed.isEmpty())
        return;

    QString address;
    switch (AddressCheck::check(typed, &address)) {
    case AddressCheck::NotIpv4:
        QMessageBox::warning(this, title(),
                             QStringLiteral("That doesn't look like an IPv4 address. Enter it in the "
                                            "form 10.0.0.5."),
                             QMessageBox::Ok);
        return;
    case AddressCheck::NotOneHost:
        QMessageBox::warning(this, title(),
                             QStringLiteral("%1 is not the address of one computer. Enter the address "
                                            "of the computer Tavrin Server runs on, in the form "
                                            "10.0.0.5.").arg(address),
                             QMessageBox::Ok);
        return;
    case AddressCheck::Usable:
        break;
    }

    if (AddressCheck::isThisComputer(QHostAddress(address))) {
        bool steadyHere = false;
        for (const DiscoveredServer& server : servers) {
            if (server.onThisComputer && server.steady)
                steadyHere = true;
        }
        if (!steadyHere) {
            QMessageBox::warning(this, title(),
                                 QStringLiteral("%1 is this computer. The server on it cannot be "
                                                "followed from this same computer: the two would "
                                                "chase each other. Update Tavrin Server, then search "
                                                "again.").arg(address),
                                 QMessageBox::Ok);
            return;
        }
    }

    runInstall(address, QStringLiteral("the server at %1").arg(address));
}

void PellumWindow::runInstall(const QString& address, const QString& label)
{
    setupButton->setEnabled(false);
    enterIpButton->setEnabled(false);
    removeButton->setEnabled(false);
    scanMessage->setText(QStringLiteral("Setting up\u2026"));

    QString message;
    AdminStepResult result = AdminStepResult::Failed;
    int exitCode = -1;
    {
        WaitCursor wait;
        result = runAdminStep({QStringLiteral("install"), QStringLiteral("-Server"), address}, &message, &exitCode);
    }

    enterIpButton->setEnabled(true);
    const int row = serverTable->currentRow();
    reloadSetup();
    fillServerTable();
    if (row >= 0 && row < serverTable->rowCount())
        serverTable->selectRow(row);
    updateButtons();

    // The record read back is the truth: a step that claims success while
    // the computer is not set up for this server has not set it up.
    if (result != AdminStepResult::Failed && currentServer != address) {
        scanMessage->setText(QStringLiteral("The setup step reported success, but this computer is not set up "
                                            "to sync with %1.").arg(address));
        return;
    }

    switch (result) {
    case AdminStepResult::Done:
        scanMessage->setText(QStringLiteral("Done \u2014 syncing with %1.").arg(StatusTexts::shownName(label)));
        showSetupDone(label);
        break;
    case AdminStepResult::NoAnswer:
        scanMessage->setText(QStringLiteral("Set up, but %1 did not answer.").arg(address));
        QMessageBox::warning(this, title(),
                             QStringLiteral("%1 did not answer a time request.\n\nThis computer is set "
                                            "up and keeps trying at startup and every 30 minutes. "
                                            "Check the address, and that Tavrin Server is running "
                                            "there. To undo the setup, click Remove\u2026.").arg(address),
                             QMessageBox::Ok);
        break;
    case AdminStepResult::Failed:
    default:
        if (AdminStep::setUpWithoutSync(exitCode) && currentServer == address) {
            // Set up; only the first sync was not taken.
            scanMessage->setText(QStringLiteral("Set up, but the first sync with %1 was not confirmed.").arg(address));
            QMessageBox::warning(this, title(),
                                 QStringLiteral("%1\n\nThis computer is set up and keeps trying at startup and "
                                                "every 30 minutes. To undo the setup, click Remove\u2026.")
                                     .arg(AdminStep::exitCodeMeaning(exitCode)),
                                 QMessageBox::Ok);
            break;
        }
        scanMessage->setText(QStringLiteral("Setup did not complete."));
        QMessageBox::warning(this, title(),
                             message.isEmpty() ? QStringLiteral("Setup did not complete.") : message,
                             QMessageBox::Ok);
        break;
    }
}

void PellumWindow::showSetupDone(const QString& label)
{
    QMessageBox box(this);
    box.setWindowTitle(title());
    box.setIcon(QMessageBox::Information);
    box.setText(QStringLiteral("This computer is set up."));
    box.setStandardButtons(QMessageBox::NoButton);
    const QString base = QStringLiteral(
        "It syncs with %1 on its own from now on, at startup and every 30 minutes.").arg(label);

    if (watchToggle->isChecked()) {
        box.setInformativeText(base);
        keepPlain(box);
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return;
    }

    box.setInformativeText(base + QStringLiteral(
        " Pellum does not need to stay open.\n\nKeeping Pellum in the menu bar is optional: it "
        "shows a lamp for this computer's clock and tells the server how the clock stands."));
    keepPlain(box);
    QPushButton* done = box.addButton(QStringLiteral("Done"), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(QStringLiteral("Keep in the Menu Bar"), QMessageBox::ActionRole);
    QPushButton* quit = box.addButton(QStringLiteral("Quit Pellum"), QMessageBox::ActionRole);
    box.setDefaultButton(done);
    box.setEscapeButton(done);
    box.exec();
    if (box.clickedButton() == keep) {
        // As if the user had flipped the switch: the controller hears it.
        watchToggle->setChecked(true);
    } else if (box.clickedButton() == quit) {
        // Let the dialog finish before the program goes.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
}

void PellumWindow::removeSetup()
{
    if (currentServer.isEmpty())
        return;
    const QString old = currentServer;
    const QString restoreTo = hadPreviousSettings
        ? QStringLiteral("what they were before setup")
        : QStringLiteral("%1 (%2)").arg(standardSettingsName(), standardTimeServer());

    QMessageBox box(this);
    box.setWindowTitle(QStringLiteral("Remove syncing"));
    box.setIcon(QMessageBox::Question);
    box.setTextFormat(Qt::PlainText);
    box.setText(QStringLiteral("Stop syncing this computer with %1?").arg(old));
    box.setStandardButtons(QMessageBox::Cancel);
    box.setInformativeText(QStringLiteral(
        "Its time settings go back to %1. You'll be asked for an administrator password.").arg(restoreTo));
    QPushButton* remove = box.addButton(QStringLiteral("Remove"), QMessageBox::AcceptRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() != remove)
        return;

    setupButton->setEnabled(false);
    enterIpButton->setEnabled(false);
    removeButton->setEnabled(false);
    scanMessage->setText(QStringLiteral("Removing\u2026"));

    QString message;
    AdminStepResult result = AdminStepResult::Failed;
    {
        WaitCursor wait;
        result = runAdminStep({QStringLiteral("remove")}, &message);
    }

    enterIpButton->setEnabled(true);
    const int row = serverTable->currentRow();
    reloadSetup();
    fillServerTable();
    if (row >= 0 && row < serverTable->rowCount())
        serverTable->selectRow(row);
    updateButtons();

    if (result != AdminStepResult::Failed && !currentServer.isEmpty()) {
        // Success claimed, yet the record is still there.
        scanMessage->setText(QStringLiteral("The removal step reported success, but this computer still syncs "
                                            "with %1.").arg(StatusTexts::shownName(currentServer)));
    } else if (result != AdminStepResult::Failed) {
        scanMessage->setText(QStringLiteral("Removed \u2014 no longer syncing with %1.").arg(StatusTexts::shownName(old)));
        QMessageBox removed(QMessageBox::Information, title(),
                            QStringLiteral("This computer no longer syncs with %1. Its time "
                                           "settings are back to %2.").arg(old, restoreTo),
                            QMessageBox::Ok, this);
        removed.setTextFormat(Qt::PlainText);
        removed.exec();
    } else {
        scanMessage->setText(QStringLiteral("Removal did not complete."));
        QMessageBox::warning(this, title(),
                             message.isEmpty() ? QStringLiteral("Removal did not complete.") : message,
                             QMessageBox::Ok);
    }
}

void PellumWindow::syncNow()
{
    // Also reached from the tray and the alert window, which do not look at
    // whether this computer is set up.
    if (currentServer.isEmpty())
        return;
    scanMessage->setText(QStringLiteral("Syncing\u2026"));
    AdminStepResult result = AdminStepResult::Failed;
    int exitCode = -1;
    {
        WaitCursor wait;
        result = runAdminStep({QStringLiteral("sync")}, nullptr, &exitCode);
    }
    switch (result) {
    case AdminStepResult::Done:
        scanMessage->setText(QStringLiteral("Synced with %1.").arg(currentServer));
        break;
    case AdminStepResult::NoAnswer:
        scanMessage->setText(QStringLiteral("%1 did not answer a time request.").arg(currentServer));
        break;
    case AdminStepResult::Failed:
    default:
        // Why, when the script said so: a set-up changed elsewhere asks for a new one.
        scanMessage->setText(exitCode > 1 ? QStringLiteral("The sync did not complete. %1").arg(AdminStep::exitCodeMeaning(exitCode))
                                          : QStringLiteral("The sync did not complete."));
        break;
    }
    reloadSetup();
    watcher->onProbe();
}
