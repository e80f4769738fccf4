// The keeping of the clock against the real time service: run by
// tests/setup/timesyncd.sh inside its namespaces, where systemd-timesyncd
// follows the test server at 127.0.0.2 over a system bus of its own.

#include "clienttray.h"
#include "clockwatcher.h"
#include "inst.h"
#include "pellumwindow.h"
#include "timeservice.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

namespace {
const QString kTestDir = qEnvironmentVariable("T");
QString text(const PellumWindow* w, const char* name) { return w->findChild<QLabel*>(QLatin1String(name))->text(); }
bool shown(const PellumWindow* w, const char* name) { return !w->findChild<QLabel*>(QLatin1String(name))->isHidden(); }
} // namespace

class TestKeepingService : public QObject {
    Q_OBJECT
    ClockWatcher* watcher = nullptr;
    PellumWindow* window = nullptr;
    ClientTray* tray = nullptr;

    QString warning() const { return shown(window, "keepingWarning") ? text(window, "keepingWarning") : QString(); }

private slots:
    void initTestCase()
    {
        if (kTestDir.isEmpty())
            QSKIP("runs inside tests/setup/timesyncd.sh");
        watcher = new ClockWatcher(this);
        window = new PellumWindow(watcher);
        tray = new ClientTray(watcher, this);
        connect(window, &PellumWindow::keepingWarningChanged, tray, &ClientTray::setKeepingWarning);
    }
    void cleanupTestCase() { delete window; }

    // Fault: the section says nothing of the service's last sync, or says it to no screen reader.
    void showsTheServiceLastSync()
    {
        QTRY_VERIFY_WITH_TIMEOUT(text(window, "serviceNote").startsWith(QStringLiteral("The time service last synced with 127.0.0.2 ")), 40000);
        QVERIFY(shown(window, "serviceNote") && warning().isEmpty());
        auto* note = window->findChild<QLabel*>(QStringLiteral("serviceNote"));
        QCOMPARE(QAccessible::queryAccessibleInterface(note)->text(QAccessible::Name), note->text());
    }

    // Fault: a stopped service goes unnoticed, or is blamed before two poll intervals have passed.
    void warnsWhenTheServiceStops()
    {
        TimeServiceReader reader;
        reader.refresh();
        QTRY_VERIFY(reader.status().running && reader.status().lastSyncUtcMs > 0);
        const TimeServiceStatus before = reader.status();
        QCOMPARE(before.pollIntervalMs, qint64(16000));
        QFile pidFile(kTestDir + QStringLiteral("/pid"));
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        QCOMPARE(::kill(pidFile.readAll().trimmed().toInt(), SIGTERM), 0);
        QTRY_VERIFY_WITH_TIMEOUT(text(window, "serviceNote").startsWith(QStringLiteral("The time service is not running")), 15000);
        QVERIFY(warning().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!warning().isEmpty(), 60000);
        const qint64 warnedAt = QDateTime::currentMSecsSinceEpoch();
        QVERIFY2(warnedAt > before.lastSyncUtcMs + 2 * before.pollIntervalMs, qPrintable(warning()));
        QVERIFY(warning().startsWith(QStringLiteral("The time service is not running and has not synced with 127.0.0.2")));
        QVERIFY(tray->icon()->toolTip().endsWith(warning()));
        // Heard and within half a second, yet nobody keeps it: the status line says so.
        if (watcher->state() == ClockState::Sync)
            QVERIFY(window->findChild<InstStatus*>(QStringLiteral("statusLine"))->text().startsWith(QStringLiteral("Not kept - No sync for")));
    }

    // Fault: a service pointed at another server is not named.
    void namesAnotherSource()
    {
        QFile other(QStringLiteral("/etc/systemd/timesyncd.conf.d/zz-elsewhere.conf"));
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("[Time]\nNTP=\nNTP=127.0.0.3\n") > 0);
        other.close();
        QCOMPARE(QProcess::execute(kTestDir + QStringLiteral("/bin/systemctl"), {QStringLiteral("restart")}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(warning().startsWith(QStringLiteral("The time service takes its time from 127.0.0.3, not 127.0.0.2.")), 40000);
        QVERIFY(tray->icon()->toolTip().endsWith(warning()));
        other.remove();
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("data"))));
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quorrel Two"));
    QCoreApplication::setApplicationName(QStringLiteral("Tavrin Pellum"));
    TestKeepingService test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keepingservice.moc"
