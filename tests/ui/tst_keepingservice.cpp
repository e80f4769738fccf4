// The keeping of the clock against the real time service: run by
// tests/setup/timesyncd.sh inside its namespaces, where systemd-timesyncd
// follows the test server at 127.0.0.2 over a system bus of its own.

#include "clienttray.h"
#include "clockhistory.h"
#include "clockwatcher.h"
#include "inst.h"
#include "pellumwindow.h"
#include "timeservice.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QScrollArea>
#include <QSettings>
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

    // With PELLUM_SHOTS set, the window in light and dark goes there as <name>-<light|dark>.png.
    void shoot(const char* name)
    {
        const QString shots = qEnvironmentVariable("PELLUM_SHOTS");
        for (const auto& [appearance, word] : {std::pair{Inst::Appearance::Light, "light"}, {Inst::Appearance::Dark, "dark"}}) {
            if (shots.isEmpty())
                break;
            Inst::setAppearance(appearance);
            window.retheme();
            window.findChild<QScrollArea*>()->widget()->grab().save(QStringLiteral("%1/%2-%3.png").arg(shots, QLatin1String(name), QLatin1String(word)));
        }
    }

private slots:
    void initTestCase()
    {
        connect(&window, &PellumWindow::keepingWarningChanged, &tray, &ClientTray::setKeepingWarning);
        // An hour the service kept within 2 ms, before this run.
        ClockHistory* history = watcher.history();
        const qint64 now = history->nowMs();
        for (qint64 t = now - 3600000; t < now - 20000; t += 10000)
            history->recordReply(t, (t / 10000 % 5 - 2) * 1000, 300, ClockState::Sync);
        window.show();
    }

    // Fault: the section says nothing of the service's last sync, or says it to no screen reader.
    void showsTheServiceLastSync()
    {
        QTRY_VERIFY_WITH_TIMEOUT(label("serviceNote")->text().startsWith(QStringLiteral("The time service last synced with 127.0.0.2 ")), 40000);
        QVERIFY(!label("serviceNote")->isHidden() && warning().isEmpty());
        // The hour written before: 2 ms, unless a loaded machine answered later than that.
        QVERIFY(QRegularExpression(QStringLiteral("^Held within \u00b1\\d+ ms of Atlas over the last hour$")).match(label("heldNote")->text()).hasMatch());
        QTRY_COMPARE_WITH_TIMEOUT(watcher.state(), ClockState::Sync, 20000);
        shoot("keeping-kept");
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
        QVERIFY2(warning().startsWith(QStringLiteral("The time service is not running and has not synced with Atlas")), qPrintable(warning()));
        QVERIFY(tray.icon()->toolTip().endsWith(warning()));
        shoot("keeping-neglected");
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
        QTRY_VERIFY_WITH_TIMEOUT(warning().startsWith(QStringLiteral("The time service takes its time from 127.0.0.3, not Atlas.")), 40000);
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
    // The test server runs on this computer; marked steady, it may be followed.
    QSettings().setValue(QStringLiteral("server/address"), QStringLiteral("127.0.0.2"));
    QSettings().setValue(QStringLiteral("server/name"), QStringLiteral("Atlas"));
    QSettings().setValue(QStringLiteral("server/steady"), true);
    TestKeepingService test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keepingservice.moc"
