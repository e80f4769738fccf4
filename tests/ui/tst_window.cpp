// Faults of the windows and the tray, each caught where the user met it:
// readouts at their borders, typed addresses, the no-server wording, the tray
// menu, the alert's editors, names from the network, the set-up box, dialogs.
#include "addresscheck.h"
#include "alertwindow.h"
#include "clienttray.h"
#include "clockwatcher.h"
#include "inst.h"
#include "pellumwindow.h"
#include "statustexts.h"
#include "../netlan/privateloopback.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

static const qint64 kNow = QDateTime::currentMSecsSinceEpoch();

class TstWindow : public QObject {
    Q_OBJECT

private slots:
    void init() { QSettings().clear(); }

    void readoutBorders_data()
    {
        QTest::addColumn<bool>("heard");
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("shown");
        QTest::newRow("offset 9.999 s") << true << qint64(9999) << "9.999 s";
        QTest::newRow("offset 10 s") << true << qint64(10000) << "10 s ";
        QTest::newRow("heard 99.999 s") << false << qint64(99999) << "99 s ago";
        QTest::newRow("heard 100 s") << false << qint64(100000) << "1 min ago";
    }
    // A readout switched unit or form one step off its border.
    void readoutBorders()
    {
        QFETCH(bool, heard);
        QFETCH(qint64, ms);
        const StatusTexts::Value v = heard ? StatusTexts::offset({kNow, true, ms, 0}) : StatusTexts::serverHeard(ms, 0);
        QTEST(v.value + QLatin1Char(' ') + v.unit, "shown");
    }

    void typedAddresses_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("usable");
        QTest::newRow("plain") << "10.0.0.5" << true;
        QTest::newRow("leading zero, read as octal") << "010.0.0.5" << false;
        QTest::newRow("three parts, read as 1.2.0.3") << "1.2.3" << false;
        QTest::newRow("broadcast") << "255.255.255.255" << false;
        QTest::newRow("this network") << "0.1.2.3" << false;
        QTest::newRow("multicast") << "239.255.255.250" << false;
        QTest::newRow("reserved") << "240.0.0.1" << false;
        QTest::newRow("last unicast") << "223.255.255.254" << true;
    }
    // A typed address in a short or octal form set up a different computer.
    void typedAddresses()
    {
        QFETCH(QString, typed);
        QString canonical;
        QTEST(AddressCheck::check(typed, &canonical) == AddressCheck::Usable, "usable");
    }

    // With no server the window and tray said "not heard"; an "&" in a name became a menu shortcut; the tray died with its watcher.
    void noServerAndTrayNames()
    {
        QSettings().setValue(QStringLiteral("clock/lastSyncUtcMs"), kNow - 300000);
        auto* watcher = new ClockWatcher;
        watcher->setReporting(true);
        ClientTray tray(watcher, nullptr);
        auto* window = new PellumWindow(watcher);
        QCOMPARE(watcher->state(), ClockState::Lost);
        QCOMPARE(window->findChild<InstStatus*>(QStringLiteral("statusLine"))->text(), QStringLiteral("No server"));
        QVERIFY(!window->findChild<InstReadout*>(QStringLiteral("reportedReadout"))->valueLabel()->text().contains("heard"));
        QCOMPARE(tray.stateLine(), QStringLiteral("No server"));
        delete window; // the window goes before its watcher; the tray must outlive it
        watcher->setServer(QStringLiteral("127.0.0.1"), QStringLiteral("R&D"));
        QTRY_COMPARE(tray.contextMenu()->actions().first()->text(), QStringLiteral("Server not heard \u00b7 R&&D"));
        delete watcher;
        QCOMPARE(tray.stateLine(), QStringLiteral("No server"));
    }

    // At 125-200 % the tray got a 16 or 32 px lamp scaled to its size, and blurred.
    void trayLampSharpAtEverySize()
    {
        const QIcon icon = ClientTray::lampIcon(ClockState::Off, false, true);
        for (const int side : {16, 20, 24, 28, 32, 40, 48}) {
            const QImage drawn = ClientTray::paintLamp(ClockState::Off, false, true, side, 1.0).toImage();
            QCOMPARE(icon.pixmap(QSize(side, side)).toImage(), drawn);
            // Asked in logical pixels on a scaled screen (16 at 150 % is 24).
            QImage scaled = icon.pixmap(QSize(16, 16), side / 16.0).toImage();
            scaled.setDevicePixelRatio(1.0);
            QCOMPARE(scaled, drawn);
        }
    }

    // The alert read a name as markup, overwrote what the user typed, and died with its watcher.
    void alertKeepsTypingAndEscapes()
    {
        QSettings().setValue(QStringLiteral("clock/lastSyncUtcMs"), kNow + 3600000);
        auto* watcher = new ClockWatcher;
        watcher->setServer(QStringLiteral("127.0.0.1"), QStringLiteral("<b>100%</b>"));
        AlertWindow alert(watcher);
        alert.show();
        QVERIFY(alert.findChild<QLabel*>(QStringLiteral("explanationLabel"))->text().contains("&lt;b&gt;100%&lt;/b&gt;"));
        auto* time = alert.findChild<QTimeEdit*>();
        auto* set = alert.findChild<QPushButton*>(QStringLiteral("setClockButton"));
        const QTime typed = time->time().addSecs(-1); // a second before the last sync
        time->setTime(typed);
        alert.refresh();
        QCOMPARE(time->time(), typed);
        QVERIFY(!set->isEnabled());
        alert.hide();
        alert.show();
        QCOMPARE(time->time(), typed.addSecs(1));
        QVERIFY(set->isEnabled());
        delete watcher;
        alert.refresh();
    }

    void digitsWhole_data()
    {
        QTest::addColumn<QString>("scale");
        QTest::addColumn<QSize>("screen");
        QTest::newRow("100 %, 800x600") << "1" << QSize(800, 600);
        QTest::newRow("150 %, 800x600") << "1.5" << QSize(800, 600);
        QTest::newRow("200 %, 1366x768") << "2" << QSize(1366, 768);
    }
    // The big digits were cut off at 150 % or on an 800x600 screen, or when a text grew once shown; a long name widened a window.
    void digitsWhole()
    {
        QFETCH(QString, scale);
        QFETCH(QSize, screen);
        if (qEnvironmentVariable("QT_SCALE_FACTOR") != scale) { // the scale is fixed once the application exists
            QTemporaryDir dir;
            QFile config(dir.filePath(QStringLiteral("screen.json")));
            QVERIFY(config.open(QIODevice::WriteOnly) && config.write(QStringLiteral(R"({"screens": [{"name": "s", "x": 0, "y": 0,
                "width": %1, "height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})").arg(screen.width()).arg(screen.height()).toUtf8()));
            config.close();
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config.fileName());
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("digitsWhole:") + QTest::currentDataTag()});
            QVERIFY(child.waitForFinished(60000));
            QVERIFY2(child.exitCode() == 0, child.readAll().constData());
            return;
        }
        QSettings().setValue(QStringLiteral("clock/lastSyncUtcMs"), kNow + 3600000);
        ClockWatcher watcher;
        AlertWindow alert(&watcher);
        PellumWindow window(&watcher);
        window.show();
        alert.show();
        QVERIFY(QTest::qWaitForWindowExposed(&alert) && QTest::qWaitForWindowExposed(&window));
        // Long names, with spaces or none, arriving after the windows opened: they fit, and the texts they lengthen squeeze nothing.
        for (const QString& name : {QString(70, QLatin1Char('W')), QStringLiteral("Lab bench ").repeated(15)}) {
            watcher.setServer(QStringLiteral("10.0.0.5"), name);
            alert.refresh();
            QTest::qWait(20);
            auto* scroller = window.findChild<QScrollArea*>();
            QVERIFY(window.minimumSizeHint().width() <= 600 && scroller->widget()->minimumSizeHint().width() <= scroller->viewport()->width());
            QVERIFY(alert.screen()->availableGeometry().contains(alert.geometry()));
            for (auto* label : alert.findChildren<QLabel*>())
                QVERIFY(label->minimumSizeHint().width() <= alert.width() - 40);
            for (InstLed* led : alert.findChildren<InstLed*>() + window.findChildren<InstLed*>()) {
                const QRect digits(QPoint(), led->sizeHint()); // the box the digits and their glow paint in
                QVERIFY2(led->text().isEmpty() || !led->isVisible() || QRegion(digits).subtracted(led->visibleRegion()).isEmpty(),
                         qPrintable(led->objectName()));
            }
        }
    }

    // A name off the network was read as markup; "Quit Pellum" in the set-up box quit early.
    void setUpSentenceAndBox()
    {
        QSettings record(qEnvironmentVariable("TAVRIN_PELLUM_ROOT") + QStringLiteral("/var/lib/tavrin-pellum/setup.ini"),
                         QSettings::IniFormat);
        record.setValue(QStringLiteral("Server"), QStringLiteral("10.0.0.5"));
        record.sync();
        QSettings().setValue(QStringLiteral("server/address"), QStringLiteral("10.0.0.5"));
        QSettings().setValue(QStringLiteral("server/name"), QStringLiteral("<b>Lab</b> clock"));
        ClockWatcher watcher;
        PellumWindow window(&watcher);
        auto* note = window.findChild<QLabel*>(QStringLiteral("setupNote"));
        QVERIFY(note->text().contains(QStringLiteral("<b>Lab</b> clock")) && note->textFormat() == Qt::PlainText);
        window.show();
        record.clear();
        // "Quit Pellum" in the set-up box must not quit before the box has closed.
        bool returned = false, quitEarly = false;
        QObject guard;
        connect(qApp, &QCoreApplication::aboutToQuit, &guard, [&] { quitEarly = !returned; });
        QTimer::singleShot(0, this, [&] { window.showSetupDone(QStringLiteral("\"Atlas\"")); returned = true; });
        QTimer::singleShot(500, this, [] {
            for (QAbstractButton* b : qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->buttons())
                if (b->text() == QStringLiteral("Quit Pellum"))
                    b->click();
        });
        QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(returned && !quitEarly);
    }

    // Tab skipped the server table (reached only by the first show's focus) and the appearance switch, then got caught in the table's cells; message boxes came up light.
    void keyboardAndDialogs()
    {
        ClockWatcher watcher;
        PellumWindow window(&watcher);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_VERIFY(window.findChild<QPushButton*>(QStringLiteral("searchButton"))->isEnabled()); // first search over
        const DiscoveredServer lab{"lab", "Lab", "10.0.0.7", {}, {}, 1, 0, true, true, true, false, false};
        window.onFound({lab, lab}); // rows to walk, were Tab to walk them
        QStringList order; // the table has the focus on opening; disabled buttons are passed over
        for (int i = 0; i < 7; ++i, QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab))
            order << QApplication::focusWidget()->metaObject()->className();
        // ... and round again from the watching switch to the table.
        QCOMPARE(order.join(", "), "QTableWidget, InstToggle, QPushButton, InstAppearanceSelector, QPushButton, QPushButton, QTableWidget");
        QMessageBox box(QMessageBox::Information, QStringLiteral("Tavrin Pellum"), QStringLiteral("Set up."), QMessageBox::Ok, &window);
        box.show();
        QCOMPARE(QColor(box.grab().toImage().pixel(2, 2)).name(), Inst::colors().panel.name()); // the dark panel
    }
};

int main(int argc, char** argv)
{
    // Whatever the window sends stays in a namespace of its own.
    if (!NetLan::enterPrivateLoopback())
        return 77;
    QTemporaryDir scratch;
    qputenv("TAVRIN_PELLUM_ROOT", QFile::encodeName(scratch.filePath(QStringLiteral("root"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("data"))));
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quorrel Two"));
    QCoreApplication::setApplicationName(QStringLiteral("Tavrin Pellum"));
    TstWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
