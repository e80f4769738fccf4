#include "clienttray.h"
#include "watcherstage.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPalette>
#include <QSignalSpy>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

using WatcherStage::Stage;

namespace {

const QColor kLightInk(236, 237, 240);
const QColor kDarkInk(28, 30, 34);

bool near(const QColor& a, const QColor& b, int tolerance = 6)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

QString describe(const QColor& c)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

QAction* action(const ClientTray& tray, const char* name)
{
    return tray.contextMenu()->findChild<QAction*>(QLatin1String(name));
}

// Device pixel of the lamp centre and of the top of the face, per scale.
QPoint lampCentre(double scale) { return scale > 1.5 ? QPoint(24, 22) : QPoint(12, 11); }
QPoint faceTop(double scale) { return scale > 1.5 ? QPoint(13, 6) : QPoint(6, 3); }

} // namespace

class TestClientTray : public QObject {
    Q_OBJECT
private slots:
    void init() { WatcherStage::clearSettings(); }

    void menuHasItsEntriesInOrder();
    void stateLineNamesTheServerWithMiddleDot();
    void stateLineShowsAddressWithoutName();
    void noServerLineStandsAlone();
    void lastSyncLine();
    void syncNowNeedsAServer();
    void alertEntryOnlyWhenWrong();
    void entriesEmitTheirRequests();
    void clickAndDoubleClickOpen();
    void blinkIntervals();
    void runningBlinkIsNotRestarted();
    void blinkDimsTheLampAndLeavingStopsIt();
    void lampColoursAtBothScales_data();
    void lampColoursAtBothScales();
    void lampInkAndCutOut();
    void lampRejectsBadSizes();
    void iconCarriesBothScales();
    void inkFollowsTheColourScheme();
    void harmlessWithoutNotificationArea();
    void stateWords();
};

void TestClientTray::menuHasItsEntriesInOrder()
{
    Stage stage;
    ClientTray tray(stage.watcher.get(), nullptr);
    const QList<QAction*> entries = tray.contextMenu()->actions();
    QCOMPARE(entries.size(), 8);
    QCOMPARE(entries[0]->objectName(), QStringLiteral("trayStatusAction"));
    QVERIFY(!entries[0]->isEnabled());
    QCOMPARE(entries[1]->objectName(), QStringLiteral("trayLastSyncAction"));
    QVERIFY(!entries[1]->isEnabled());
    QVERIFY(entries[2]->isSeparator());
    QCOMPARE(entries[3]->text(), QStringLiteral("Show the clock alert"));
    QCOMPARE(entries[4]->text(), QStringLiteral("Open Tavrin Pellum"));
    QCOMPARE(entries[5]->text(), QStringLiteral("Sync now"));
    QVERIFY(entries[6]->isSeparator());
    QCOMPARE(entries[7]->text(), QStringLiteral("Quit Tavrin Pellum"));
    QCOMPARE(tray.icon()->contextMenu(), tray.contextMenu());
}

void TestClientTray::stateLineNamesTheServerWithMiddleDot()
{
    Stage stage;
    QVERIFY(stage.toSync(QStringLiteral("Lab clock")));
    ClientTray tray(stage.watcher.get(), nullptr);
    const QString line = QStringLiteral("In sync \u00B7 Lab clock");
    QCOMPARE(action(tray, "trayStatusAction")->text(), line);
    QCOMPARE(tray.icon()->toolTip(), QStringLiteral("Tavrin Pellum: ") + line);
}

void TestClientTray::stateLineShowsAddressWithoutName()
{
    Stage stage;
    QVERIFY(stage.toSync(QString()));
    ClientTray tray(stage.watcher.get(), nullptr);
    QCOMPARE(action(tray, "trayStatusAction")->text(), QStringLiteral("In sync \u00B7 127.0.0.1"));

    // A state change reaches the menu through the watcher's changed().
    QVERIFY(stage.toOff());
    QTRY_COMPARE(action(tray, "trayStatusAction")->text(),
                 QStringLiteral("Clock is off \u00B7 Lab clock"));
}

void TestClientTray::noServerLineStandsAlone()
{
    Stage stage;
    QCOMPARE(stage->state(), ClockState::None);
    ClientTray tray(stage.watcher.get(), nullptr);
    QCOMPARE(action(tray, "trayStatusAction")->text(), QStringLiteral("No server"));
    QCOMPARE(tray.icon()->toolTip(), QStringLiteral("Tavrin Pellum: No server"));

    // A server set but never heard, never synced: still None, and no label shown.
    stage->setServer(QStringLiteral("127.0.0.2"), QStringLiteral("Silent"));
    QCOMPARE(stage->state(), ClockState::None);
    QTRY_COMPARE(action(tray, "trayStatusAction")->text(), QStringLiteral("No server"));
}

void TestClientTray::lastSyncLine()
{
    Stage stage;
    ClientTray tray(stage.watcher.get(), nullptr);
    QCOMPARE(action(tray, "trayLastSyncAction")->text(), QStringLiteral("Never synced"));

    QVERIFY(stage.toSync());
    emit stage->changed();
    const QDateTime last = QDateTime::fromMSecsSinceEpoch(stage->lastSyncUtcMs()).toLocalTime();
    QCOMPARE(action(tray, "trayLastSyncAction")->text(),
             QStringLiteral("Last sync ") + last.toString(QStringLiteral("ddd d MMM, HH:mm:ss")));
}

void TestClientTray::syncNowNeedsAServer()
{
    Stage stage;
    ClientTray tray(stage.watcher.get(), nullptr);
    QVERIFY(!action(tray, "traySyncNowAction")->isEnabled());
    stage->setServer(QStringLiteral("127.0.0.2"), QString());
    QTRY_VERIFY(action(tray, "traySyncNowAction")->isEnabled());
    stage->setServer(QString(), QString());
    emit stage->changed();
    QVERIFY(!action(tray, "traySyncNowAction")->isEnabled());
}

void TestClientTray::alertEntryOnlyWhenWrong()
{
    Stage stage;
    ClientTray tray(stage.watcher.get(), nullptr);
    QVERIFY(!action(tray, "trayAlertAction")->isVisible());
    QVERIFY(stage.toSync());
    emit stage->changed();
    QVERIFY(!action(tray, "trayAlertAction")->isVisible());
    QVERIFY(stage.toWrongServerAgrees());
    emit stage->changed();
    QVERIFY(action(tray, "trayAlertAction")->isVisible());
    QCOMPARE(action(tray, "trayStatusAction")->text(), QStringLiteral("Clock wrong \u00B7 Lab clock"));
    stage->resetLastSync();
    emit stage->changed();
    QVERIFY(!action(tray, "trayAlertAction")->isVisible());
}

void TestClientTray::entriesEmitTheirRequests()
{
    Stage stage;
    stage->setServer(QStringLiteral("127.0.0.2"), QString());
    ClientTray tray(stage.watcher.get(), nullptr);
    QSignalSpy open(&tray, &ClientTray::openRequested);
    QSignalSpy alert(&tray, &ClientTray::alertRequested);
    QSignalSpy sync(&tray, &ClientTray::syncNowRequested);
    QSignalSpy quit(&tray, &ClientTray::quitRequested);

    action(tray, "trayAlertAction")->trigger();
    QCOMPARE(alert.count(), 1);
    action(tray, "trayOpenAction")->trigger();
    QCOMPARE(open.count(), 1);
    action(tray, "traySyncNowAction")->trigger();
    QCOMPARE(sync.count(), 1);
    action(tray, "trayQuitAction")->trigger();
    QCOMPARE(quit.count(), 1);
    // The two state lines ask for nothing.
    action(tray, "trayStatusAction")->trigger();
    action(tray, "trayLastSyncAction")->trigger();
    QCOMPARE(open.count() + alert.count() + sync.count() + quit.count(), 4);
}

void TestClientTray::clickAndDoubleClickOpen()
{
    Stage stage;
    ClientTray tray(stage.watcher.get(), nullptr);
    QSignalSpy open(&tray, &ClientTray::openRequested);
    emit tray.icon()->activated(QSystemTrayIcon::Trigger);
    QCOMPARE(open.count(), 1);
    emit tray.icon()->activated(QSystemTrayIcon::DoubleClick);
    QCOMPARE(open.count(), 2);
    emit tray.icon()->activated(QSystemTrayIcon::Context);
    emit tray.icon()->activated(QSystemTrayIcon::MiddleClick);
    emit tray.icon()->activated(QSystemTrayIcon::Unknown);
    QCOMPARE(open.count(), 2);
}

void TestClientTray::blinkIntervals()
{
    Stage stage;
    ClientTray tray(stage.watcher.get(), nullptr);
    QVERIFY(!tray.blinker()->isActive());

    // Synced once, then the server reads 5 s ahead: off.
    QVERIFY(stage.toSync());
    QVERIFY(!tray.blinker()->isActive());
    stage.server.skewMs = 5000;
    stage->onProbe();
    QTRY_COMPARE(stage->state(), ClockState::Off);
    QTRY_VERIFY(tray.blinker()->isActive());
    QCOMPARE(tray.blinker()->interval(), 900);

    // From Off straight into Wrong: the faster blink takes over.
    stage->clockSkewMs = -60000;
    stage->onTick();
    QCOMPARE(stage->state(), ClockState::Wrong);
    QVERIFY(tray.blinker()->isActive());
    QCOMPARE(tray.blinker()->interval(), 450);

    // Back to Off, and the slow blink returns.
    stage->resetLastSync();
    emit stage->changed();
    QCOMPARE(stage->state(), ClockState::Off);
    QCOMPARE(tray.blinker()->interval(), 900);

    // In sync again: steady.
    stage->clockSkewMs = 0;
    stage.server.skewMs = 0;
    stage->onProbe();
    QTRY_COMPARE(stage->state(), ClockState::Sync);
    QTRY_VERIFY(!tray.blinker()->isActive());
    QVERIFY(tray.lampLit());
}

void TestClientTray::runningBlinkIsNotRestarted()
{
    Stage stage;
    QVERIFY(stage.toOff());
    ClientTray tray(stage.watcher.get(), nullptr);
    QVERIFY(tray.blinker()->isActive());
    const int id = tray.blinker()->timerId();
    QTest::qWait(300);
    emit stage->changed();
    emit stage->changed();
    QVERIFY(tray.blinker()->isActive());
    QCOMPARE(tray.blinker()->timerId(), id);
    // Restarted, it would have its full 900 ms ahead of it again.
    QVERIFY2(tray.blinker()->remainingTime() <= 800,
             qPrintable(QString::number(tray.blinker()->remainingTime())));
}

void TestClientTray::blinkDimsTheLampAndLeavingStopsIt()
{
    Stage stage;
    QVERIFY(stage.toWrongServerAgrees());
    ClientTray tray(stage.watcher.get(), nullptr);
    QVERIFY(tray.lampLit());
    QTRY_VERIFY_WITH_TIMEOUT(!tray.lampLit(), 10000);

    // The icon handed to the platform carries the dimmed lamp.
    const QImage dim = tray.icon()->icon().pixmap(QSize(16, 16), 1.0).toImage();
    const QColor dimLamp = dim.pixelColor(lampCentre(1.0));
    QVERIFY2(dimLamp.alpha() > 60 && dimLamp.alpha() < 95, qPrintable(describe(dimLamp)));
    QTRY_VERIFY_WITH_TIMEOUT(tray.lampLit(), 10000);

    // Leaving Wrong: steady and lit, even when caught in the dim phase.
    QTRY_VERIFY_WITH_TIMEOUT(!tray.lampLit(), 10000);
    stage->clockSkewMs = 0;
    stage->onTick();
    QVERIFY(stage->state() != ClockState::Wrong);
    if (stage->state() == ClockState::Off)
        QSKIP("the clock settled as off; nothing steady to check");
    QVERIFY(!tray.blinker()->isActive());
    QVERIFY(tray.lampLit());
    const QImage lit = tray.icon()->icon().pixmap(QSize(16, 16), 1.0).toImage();
    QCOMPARE(lit.pixelColor(lampCentre(1.0)).alpha(), 255);
}

void TestClientTray::lampColoursAtBothScales_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QColor>("colour");
    const QList<std::pair<ClockState, QColor>> states = {
        {ClockState::None, QColor(255, 69, 58)},   {ClockState::Sync, QColor(56, 224, 122)},
        {ClockState::Lost, QColor(255, 159, 10)},  {ClockState::Off, QColor(255, 159, 10)},
        {ClockState::Wrong, QColor(255, 69, 58)},  {static_cast<ClockState>(9), QColor(255, 69, 58)},
    };
    for (const auto& [state, colour] : states) {
        for (double scale : {1.0, 2.0}) {
            const QString name = int(state) > 4 ? QStringLiteral("unknown") : stateReportWord(state);
            QTest::addRow("%s@%gx", qPrintable(name), scale)
                << int(state) << scale << colour;
        }
    }
}

void TestClientTray::lampColoursAtBothScales()
{
    QFETCH(int, state);
    QFETCH(double, scale);
    QFETCH(QColor, colour);
    const QPixmap pixmap = ClientTray::paintLamp(static_cast<ClockState>(state), true, false, 16, scale);
    QCOMPARE(pixmap.size(), QSize(int(16 * scale), int(16 * scale)));
    QCOMPARE(pixmap.devicePixelRatio(), scale);
    const QImage image = pixmap.toImage();
    const QColor lamp = image.pixelColor(lampCentre(scale));
    QCOMPARE(lamp.alpha(), 255);
    QVERIFY2(near(lamp, colour, 1), qPrintable(describe(lamp)));

    const QImage dim = ClientTray::paintLamp(static_cast<ClockState>(state), false, false, 16, scale).toImage();
    const QColor dimLamp = dim.pixelColor(lampCentre(scale));
    QVERIFY2(qAbs(dimLamp.alpha() - 77) <= 2, qPrintable(describe(dimLamp)));
    QVERIFY2(near(dimLamp, colour, 8), qPrintable(describe(dimLamp)));
}

void TestClientTray::lampInkAndCutOut()
{
    for (double scale : {1.0, 2.0}) {
        for (bool darkInk : {false, true}) {
            const QImage image = ClientTray::paintLamp(ClockState::Sync, true, darkInk, 16, scale).toImage();
            const QColor face = image.pixelColor(faceTop(scale));
            QVERIFY2(face.alpha() > 150, qPrintable(describe(face)));
            QVERIFY2(near(face, darkInk ? kDarkInk : kLightInk, 4), qPrintable(describe(face)));
            // Corners stay transparent.
            QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
            QCOMPARE(image.pixelColor(image.width() - 1, 0).alpha(), 0);
        }
    }
    // Where the face's circle crosses the ring around the lamp, the face is erased.
    const QImage sharp = ClientTray::paintLamp(ClockState::Sync, true, false, 16, 2.0).toImage();
    QCOMPARE(sharp.pixelColor(16, 24).alpha(), 0);
    // At a large size the same geometry: erased in the ring, inked at the top.
    const QImage big = ClientTray::paintLamp(ClockState::Sync, true, false, 180, 1.0).toImage();
    QCOMPARE(big.pixelColor(92, 140).alpha(), 0);
    QVERIFY(big.pixelColor(76, 37).alpha() > 200);
}

void TestClientTray::lampRejectsBadSizes()
{
    QVERIFY(ClientTray::paintLamp(ClockState::Sync, true, false, 0, 1.0).isNull());
    QVERIFY(ClientTray::paintLamp(ClockState::Sync, true, false, -4, 1.0).isNull());
    QVERIFY(ClientTray::paintLamp(ClockState::Sync, true, false, 16, 0.0).isNull());
    QVERIFY(ClientTray::paintLamp(ClockState::Sync, true, false, 16, -1.0).isNull());
    QVERIFY(ClientTray::paintLamp(ClockState::Sync, true, false, 16, qQNaN()).isNull());
    QCOMPARE(ClientTray::paintLamp(ClockState::Sync, true, false, 16, 1.5).width(), 24);
}

void TestClientTray::iconCarriesBothScales()
{
    Stage stage;
    ClientTray tray(stage.watcher.get(), nullptr);
    const QIcon icon = tray.icon()->icon();
    QVERIFY(!icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    QVERIFY2(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)),
             qPrintable(QString::number(sizes.size())));
}

void TestClientTray::inkFollowsTheColourScheme()
{
    Stage stage;
    ClientTray tray(stage.watcher.get(), nullptr);
    QCOMPARE(tray.inkIsDark(), ClientTray::systemSchemeIsLight());
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QStyleHints* hints = QGuiApplication::styleHints();
    hints->setColorScheme(Qt::ColorScheme::Light);
    if (hints->colorScheme() != Qt::ColorScheme::Light) {
        hints->unsetColorScheme();
        QSKIP("this platform does not take colour scheme requests");
    }
    QTRY_VERIFY(tray.inkIsDark());
    hints->setColorScheme(Qt::ColorScheme::Dark);
    QTRY_VERIFY(!tray.inkIsDark());
    hints->unsetColorScheme();
#elif QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    QSKIP("this Qt reports the scheme but cannot be told to change it");
#else
    // Without a reported scheme the palette's lightness decides.
    const QPalette original = QApplication::palette();
    QPalette dark = original;
    dark.setColor(QPalette::Window, QColor(20, 20, 24));
    QApplication::setPalette(dark);
    QTRY_VERIFY(!tray.inkIsDark());
    const QImage darkScheme = tray.icon()->icon().pixmap(QSize(16, 16), 1.0).toImage();
    QVERIFY(near(darkScheme.pixelColor(faceTop(1.0)), kLightInk, 4));

    QPalette light = original;
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    QApplication::setPalette(light);
    QTRY_VERIFY(tray.inkIsDark());
    const QImage lightScheme = tray.icon()->icon().pixmap(QSize(16, 16), 1.0).toImage();
    QVERIFY(near(lightScheme.pixelColor(faceTop(1.0)), kDarkInk, 4));
    QApplication::setPalette(original);
#endif
}

void TestClientTray::harmlessWithoutNotificationArea()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("this platform has a notification area");
    Stage stage;
    QVERIFY(stage.toWrongServerAgrees());
    {
        auto* tray = new ClientTray(stage.watcher.get(), nullptr);
        QSignalSpy quit(tray, &ClientTray::quitRequested);
        // It keeps blinking and following the watcher all the same.
        QVERIFY(tray->blinker()->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!tray->lampLit(), 10000);
        action(*tray, "trayQuitAction")->trigger();
        QCOMPARE(quit.count(), 1);
        delete tray;
    }
    // The watcher outlives the tray and goes on ticking.
    QSignalSpy ticks(stage.watcher.get(), &ClockWatcher::changed);
    QVERIFY(ticks.wait(5000));

    // A tray whose watcher goes first keeps running without it.
    ClientTray orphan(stage.watcher.get(), nullptr);
    QVERIFY(orphan.blinker()->isActive());
    stage.watcher.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!orphan.blinker()->isActive(), 10000);
    QCOMPARE(action(orphan, "trayStatusAction")->text(), QStringLiteral("No server"));
    QVERIFY(!action(orphan, "traySyncNowAction")->isEnabled());
    QVERIFY(orphan.lampLit());
}

void TestClientTray::stateWords()
{
    QCOMPARE(ClientTray::stateWord(ClockState::None), QStringLiteral("No server"));
    QCOMPARE(ClientTray::stateWord(ClockState::Sync), QStringLiteral("In sync"));
    QCOMPARE(ClientTray::stateWord(ClockState::Lost), QStringLiteral("Server not heard"));
    QCOMPARE(ClientTray::stateWord(ClockState::Off), QStringLiteral("Clock is off"));
    QCOMPARE(ClientTray::stateWord(ClockState::Wrong), QStringLiteral("Clock wrong"));
    QCOMPARE(ClientTray::stateWord(static_cast<ClockState>(-1)), QStringLiteral("No server"));
    QCOMPARE(ClientTray::stateWord(static_cast<ClockState>(5)), QStringLiteral("No server"));
}

int main(int argc, char** argv)
{
    QTemporaryDir settingsDir;
    WatcherStage::useScratchSettings(settingsDir);
    QApplication app(argc, argv);
    TestClientTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clienttray.moc"
