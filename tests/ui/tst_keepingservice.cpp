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
#include <QLabel>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

class TestKeepingService : public QObject {
    Q_OBJECT
    const QString dir = qEnvironmentVariable("T");
    ClockWatcher watcher;
    PellumWindow window{&watcher};
    ClientTray tray{&watcher, nullptr};

    QLabel* label(const char* name) { return window.findChild<QLabel*>(QLatin1String(name)); }
    QString warning() { return label("keepingWarning")->isHidden() ? QString() : label("keepingWarning")->text(); }

private slots:
    void initTestCase()
    {
        connect(&window, &PellumWindow::keepingWarningChanged, &tray, &ClientTray::setKeepingWarning);
    }

    // Fault: the section says nothing of the service's last sync, or says it to no screen reader.
    void showsTheServiceLastSync()
    {
        QTRY_VERIFY_WITH_TIMEOUT(label("serviceNote")->text().startsWith(QStringLiteral("The time service last synced with 127.0.0.2 ")), 40000);
        QVERIFY(!label("serviceNote")->isHidden() && warning().isEmpty());
        QCOMPARE(QAccessible::queryAccessibleInterface(label("serviceNote"))->text(QAccessible::Name), label("serviceNote")->text());
    }

    // Fault: a stopped service goes unnoticed, or is blamed before two poll intervals have passed.
    void warnsWhenTheServiceStops()
    {
        TimeServiceReader reader;
        reader.refresh();
        QTRY_VERIFY(reader.status().running && reader.status().lastSyncUtcMs > 0);
        const TimeServiceStatus before = reader.status();
        QCOMPARE(before.pollIntervalMs, qint64(16000));
        QFile pid(dir + QStringLiteral("/pid"));
        QVERIFY(pid.open(QIODevice::ReadOnly) && ::kill(pid.readAll().trimmed().toInt(), SIGTERM) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(label("serviceNote")->text().startsWith(QStringLiteral("The time service is not running")), 15000);
        QVERIFY(warning().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!warning().isEmpty(), 60000);
        QVERIFY(QDateTime::currentMSecsSinceEpoch() > before.lastSyncUtcMs + 2 * before.pollIntervalMs);
        QVERIFY2(warning().startsWith(QStringLiteral("The time service is not running and has not synced with 127.0.0.2")), qPrintable(warning()));
        QVERIFY(tray.icon()->toolTip().endsWith(warning()));
        // Heard and within half a second, yet nobody keeps it: the status line says so.
        if (watcher.state() == ClockState::Sync)
            QVERIFY(window.findChild<InstStatus*>(QStringLiteral("statusLine"))->text().startsWith(QStringLiteral("Not kept - No sync for")));
    }

    // Fault: a service pointed at another server is not named.
    void namesAnotherSource()
    {
        QFile other(QStringLiteral("/etc/systemd/timesyncd.conf.d/zz-elsewhere.conf"));
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("[Time]\nNTP=\nNTP=127.0.0.3\n") > 0);
        other.close();
        QCOMPARE(QProcess::execute(dir + QStringLiteral("/bin/systemctl"), {QStringLiteral("restart")}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(warning().startsWith(QStringLiteral("The time service takes its time from 127.0.0.3, not 127.0.0.2.")), 40000);
        QVERIFY(tray.icon()->toolTip().endsWith(warning()));
        other.remove();
    }
};

int main(int argc, char** argv)
{
    // Only inside the test's namespaces: outside, the window would probe a real set-up's server.
    if (qEnvironmentVariableIsEmpty("T"))
        return 77;
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
