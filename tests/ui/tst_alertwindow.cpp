#include "alertwindow.h"
#include "watcherstage.h"

#include <QApplication>
#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimeEdit>

#include "instled.h"

using WatcherStage::Stage;

namespace {

QDateTime localFromMs(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime(); }

template <typename T>
T* part(const AlertWindow& window, const char* name)
{
    return window.findChild<T*>(QLatin1String(name));
}

// The action button changes its name with what it does; it is the only
// push button besides the set and search buttons.
QPushButton* actionButton(const AlertWindow& window)
{
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->objectName() != QLatin1String("setClockButton")
            && button->objectName() != QLatin1String("searchButton"))
            return button;
    }
    return nullptr;
}

} // namespace

class TestAlertWindow : public QObject {
    Q_OBJECT
private slots:
    void init() { WatcherStage::clearSettings(); }

    void looksLikeTheAlert();
    void noServerAnswering();
    void serverAnsweringOffersSyncNow();
    void serverAgreeingOffersAcceptance();
    void explanationNamesLastSyncAndEscapesServer();
    void clockReadingIsShown();
    void editorsStartAtLastSyncAndRefuseEarlierDates();
    void setButtonFollowsTheLastSyncRule();
    void setClockCarriesTheEnteredTimeInUtc();
    void typingSurvivesRefreshesButNotAReshow();
    void searchButtonAsksForSearch();
    void shownOrPutAwayOnShowAndHide();
    void refreshOnlyWhileVisible();
    void survivesItsWatcher();
};

void TestAlertWindow::looksLikeTheAlert()
{
    Stage stage;
    AlertWindow window(stage.watcher.get());
    QCOMPARE(window.windowTitle(), QStringLiteral("Tavrin Pellum: clock alert"));
    QVERIFY(window.windowFlags().testFlag(Qt::Window));
    QVERIFY(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(window.minimumWidth(), 640);
    QCOMPARE(window.maximumWidth(), 640);
    QVERIFY(window.styleSheet().contains(QStringLiteral("QPushButton[role=\"set\"]")));
    QCOMPARE(part<QLabel>(window, "alertHeader")->text(),
             QStringLiteral("\u25B2  TAVRIN PELLUM  \u00B7  CLOCK ALERT"));
    QCOMPARE(part<QLabel>(window, "alertTitle")->text(), QStringLiteral("This computer's clock is wrong"));
    QCOMPARE(part<QLabel>(window, "noteLabel")->text(),
             QStringLiteral("The time cannot be set earlier than the last sync."));
    QPushButton* set = part<QPushButton>(window, "setClockButton");
    QCOMPARE(set->text(), QStringLiteral("SET THE CLOCK"));
    QCOMPARE(set->property("role").toByteArray(), QByteArray("set"));
    QCOMPARE(set->toolTip(), QStringLiteral("Set this computer's clock to the date and time entered. "
                                            "Asks for an administrator password."));
    QCOMPARE(part<QPushButton>(window, "searchButton")->text(), QStringLiteral("Search for a server"));
    QCOMPARE(part<QDateEdit>(window, "dateEditor")->displayFormat(), QStringLiteral("yyyy-MM-dd"));
    QCOMPARE(part<QTimeEdit>(window, "timeEditor")->displayFormat(), QStringLiteral("HH:mm:ss"));
    QCOMPARE(part<InstLed>(window, "clockDisplay")->state(), InstLed::Bad);

    // The fixed red look: dark red fill inside a red edge.
    window.resize(window.sizeHint());
    const QImage image = window.grab().toImage();
    QCOMPARE(image.pixelColor(0, image.height() / 2), QColor(0xff, 0x45, 0x3a));
    QCOMPARE(image.pixelColor(1, image.height() / 2), QColor(0xff, 0x45, 0x3a));
    QCOMPARE(image.pixelColor(5, image.height() - 6), QColor(0x2a, 0x06, 0x06));
}

void TestAlertWindow::noServerAnswering()
{
    Stage stage;
    QVERIFY(stage.toWrongNoServer());
    AlertWindow window(stage.watcher.get());
    window.show();
    QCOMPARE(part<QLabel>(window, "serverStatusLabel")->text(),
             QStringLiteral("No time server is answering. Set the clock by hand, or find a server."));
    QCOMPARE(window.action(), AlertWindow::NoAction);
    QVERIFY(!actionButton(window)->isVisible());

    // A click the hidden button could still get asks for nothing.
    QSignalSpy sync(&window, &AlertWindow::syncNowRequested);
    QSignalSpy accept(&window, &AlertWindow::acceptServerTimeRequested);
    actionButton(window)->click();
    QCOMPARE(sync.count() + accept.count(), 0);
}

void TestAlertWindow::serverAnsweringOffersSyncNow()
{
    Stage stage;
    QVERIFY(stage.toWrongServerDisagrees());
    QVERIFY(!serverTimeWentBack(stage->snapshot()));
    AlertWindow window(stage.watcher.get());
    window.show();
    QCOMPARE(part<QLabel>(window, "serverStatusLabel")->text(),
             QStringLiteral("Lab clock is answering. This computer takes its time at the next sync; "
                            "sync now, or set the clock by hand."));
    QCOMPARE(window.action(), AlertWindow::SyncNowAction);
    QPushButton* button = part<QPushButton>(window, "syncNowButton");
    QVERIFY(button);
    QVERIFY(button->isVisible());
    QCOMPARE(button->text(), QStringLiteral("Sync now"));
    QVERIFY(!part<QPushButton>(window, "acceptServerTimeButton"));

    QSignalSpy sync(&window, &AlertWindow::syncNowRequested);
    QSignalSpy accept(&window, &AlertWindow::acceptServerTimeRequested);
    button->click();
    QCOMPARE(sync.count(), 1);
    QCOMPARE(accept.count(), 0);
}

void TestAlertWindow::serverAgreeingOffersAcceptance()
{
    Stage stage;
    QVERIFY(stage.toWrongServerAgrees());
    QVERIFY(serverTimeWentBack(stage->snapshot()));
    AlertWindow window(stage.watcher.get());
    window.show();
    QCOMPARE(part<QLabel>(window, "serverStatusLabel")->text(),
             QStringLiteral("It agrees with Lab clock, so it is the server's time that has gone back. "
                            "If that is right, accept it."));
    QCOMPARE(window.action(), AlertWindow::AcceptServerTimeAction);
    QPushButton* button = part<QPushButton>(window, "acceptServerTimeButton");
    QVERIFY(button);
    QVERIFY(button->isVisible());
    QCOMPARE(button->text(), QStringLiteral("Accept the server's time"));

    QSignalSpy sync(&window, &AlertWindow::syncNowRequested);
    QSignalSpy accept(&window, &AlertWindow::acceptServerTimeRequested);
    button->click();
    QCOMPARE(accept.count(), 1);
    QCOMPARE(sync.count(), 0);

    // Once the server disagrees, acceptance is no longer offered.
    const int before = stage.server.answered;
    stage.server.skewMs = 0;
    stage->onProbe();
    QTRY_VERIFY_WITH_TIMEOUT(stage.server.answered > before && stage->snapshot().offsetMs > 50000, 10000);
    QTRY_COMPARE(window.action(), AlertWindow::SyncNowAction);
    QVERIFY(part<QPushButton>(window, "syncNowButton"));
}

void TestAlertWindow::explanationNamesLastSyncAndEscapesServer()
{
    Stage stage;
    QVERIFY(stage.toWrongServerAgrees());
    const QString last = localFromMs(stage->lastSyncUtcMs())
                             .toString(QStringLiteral("dddd, MMMM d, yyyy 'at' HH:mm:ss"));
    AlertWindow window(stage.watcher.get());
    QLabel* explanation = part<QLabel>(window, "explanationLabel");
    QCOMPARE(explanation->textFormat(), Qt::RichText);
    QCOMPARE(explanation->text(),
             QStringLiteral("That is <b style=\"color:#ffffff\">earlier than its last sync</b>: ") + last
                 + QStringLiteral(", with Lab clock. A clock cannot run backwards, so it has been reset."));

    // Markup and placeholders in the name stay literal text.
    stage->setServer(QStringLiteral("127.0.0.1"), QStringLiteral("<b>R&D</b> %1 %2"));
    window.refresh();
    QVERIFY2(explanation->text().contains(QStringLiteral(", with &lt;b&gt;R&amp;D&lt;/b&gt; %1 %2.")),
             qPrintable(explanation->text()));
    QLabel* status = part<QLabel>(window, "serverStatusLabel");
    QCOMPARE(status->textFormat(), Qt::PlainText);
    QVERIFY(status->text().contains(QStringLiteral("<b>R&D</b> %1 %2")));

    // No server: no ", with" part.
    stage->setServer(QString(), QString());
    window.refresh();
    QCOMPARE(explanation->text(),
             QStringLiteral("That is <b style=\"color:#ffffff\">earlier than its last sync</b>: ") + last
                 + QStringLiteral(". A clock cannot run backwards, so it has been reset."));
}

void TestAlertWindow::clockReadingIsShown()
{
    Stage stage;
    QVERIFY(stage.toWrongNoServer());
    AlertWindow window(stage.watcher.get());
    const QDateTime before = localFromMs(stage->snapshot().nowMs);
    window.refresh();
    const QDateTime after = localFromMs(stage->snapshot().nowMs);
    const QString shown = part<InstLed>(window, "clockDisplay")->text();
    QVERIFY2(shown == before.toString(QStringLiteral("HH:mm:ss"))
                 || shown == after.toString(QStringLiteral("HH:mm:ss")),
             qPrintable(shown));
    const QString line = part<QLabel>(window, "clockLine")->text();
    QVERIFY2(line == before.toString(QStringLiteral("dddd, MMMM d, yyyy"))
                     + QStringLiteral("  \u00B7  what this computer's clock says now")
                 || line.startsWith(after.toString(QStringLiteral("dddd, MMMM d, yyyy"))),
             qPrintable(line));
}

void TestAlertWindow::editorsStartAtLastSyncAndRefuseEarlierDates()
{
    Stage stage;
    QVERIFY(stage.toWrongNoServer());
    const QDateTime last = localFromMs(stage->lastSyncUtcMs());
    AlertWindow window(stage.watcher.get());
    window.show();
    auto* date = part<QDateEdit>(window, "dateEditor");
    auto* time = part<QTimeEdit>(window, "timeEditor");
    QCOMPARE(date->minimumDate(), last.date());
    QCOMPARE(date->date(), last.date());
    QCOMPARE(time->time().toString(QStringLiteral("HH:mm:ss")), last.time().toString(QStringLiteral("HH:mm:ss")));
    // Filled with the last sync itself, the rule holds.
    QVERIFY(part<QPushButton>(window, "setClockButton")->isEnabled());

    date->setDate(last.date().addDays(-1));
    QCOMPARE(date->date(), last.date());
    date->setFocus();
    QTest::keyClick(date, Qt::Key_Down);
    QVERIFY(date->date() >= last.date());
}

void TestAlertWindow::setButtonFollowsTheLastSyncRule()
{
    Stage stage;
    QVERIFY(stage.toWrongNoServer());
    const QDateTime last = localFromMs(stage->lastSyncUtcMs());
    AlertWindow window(stage.watcher.get());
    window.show();
    auto* date = part<QDateEdit>(window, "dateEditor");
    auto* time = part<QTimeEdit>(window, "timeEditor");
    auto* set = part<QPushButton>(window, "setClockButton");

    const QDateTime secondBefore = last.addSecs(-1);
    if (secondBefore.date() != last.date())
        QSKIP("the last sync is the first second of its day");
    time->setTime(secondBefore.time());
    window.refresh();
    QVERIFY(!set->isEnabled());

    time->setTime(last.time());
    window.refresh();
    QVERIFY(set->isEnabled());

    date->setDate(last.date().addDays(1));
    time->setTime(QTime(0, 0));
    window.refresh();
    QVERIFY(set->isEnabled());
}

void TestAlertWindow::setClockCarriesTheEnteredTimeInUtc()
{
    Stage stage;
    QVERIFY(stage.toWrongNoServer());
    AlertWindow window(stage.watcher.get());
    window.show();
    auto* date = part<QDateEdit>(window, "dateEditor");
    auto* time = part<QTimeEdit>(window, "timeEditor");
    const QDate day = date->minimumDate().addDays(3);
    date->setDate(day);
    time->setTime(QTime(12, 34, 56));
    QSignalSpy request(&window, &AlertWindow::setClockRequested);
    QTest::mouseClick(part<QPushButton>(window, "setClockButton"), Qt::LeftButton);
    QCOMPARE(request.count(), 1);
    const QDateTime utc = request.at(0).at(0).toDateTime();
    QCOMPARE(utc.timeSpec(), Qt::UTC);
    QCOMPARE(utc, QDateTime(day, QTime(12, 34, 56)).toUTC());
    QCOMPARE(utc.toLocalTime().time(), QTime(12, 34, 56));
}

void TestAlertWindow::typingSurvivesRefreshesButNotAReshow()
{
    Stage stage;
    QVERIFY(stage.toWrongNoServer());
    const QDateTime last = localFromMs(stage->lastSyncUtcMs());
    AlertWindow window(stage.watcher.get());
    window.show();
    auto* date = part<QDateEdit>(window, "dateEditor");
    auto* time = part<QTimeEdit>(window, "timeEditor");
    date->setDate(last.date().addDays(2));
    time->setTime(QTime(7, 8, 9));

    // The watcher ticks every second; each tick refreshes the visible window.
    QSignalSpy ticks(stage.watcher.get(), &ClockWatcher::changed);
    QVERIFY(ticks.wait(5000));
    QCOMPARE(date->date(), last.date().addDays(2));
    QCOMPARE(time->time(), QTime(7, 8, 9));

    window.hide();
    window.show();
    QCOMPARE(date->date(), last.date());
    QCOMPARE(time->time().toString(QStringLiteral("HH:mm:ss")), last.time().toString(QStringLiteral("HH:mm:ss")));
}

void TestAlertWindow::searchButtonAsksForSearch()
{
    Stage stage;
    AlertWindow window(stage.watcher.get());
    window.show();
    QSignalSpy search(&window, &AlertWindow::searchRequested);
    QSignalSpy set(&window, &AlertWindow::setClockRequested);
    QTest::mouseClick(part<QPushButton>(window, "searchButton"), Qt::LeftButton);
    QCOMPARE(search.count(), 1);
    QCOMPARE(set.count(), 0);
}

void TestAlertWindow::shownOrPutAwayOnShowAndHide()
{
    Stage stage;
    AlertWindow window(stage.watcher.get());
    QSignalSpy spy(&window, &AlertWindow::shownOrPutAway);
    // Whoever listens must see the new visibility already.
    bool visibleAtSignal = false;
    connect(&window, &AlertWindow::shownOrPutAway, this, [&] { visibleAtSignal = window.isVisible(); });
    window.show();
    QCOMPARE(spy.count(), 1);
    QVERIFY(visibleAtSignal);
    window.hide();
    QCOMPARE(spy.count(), 2);
    QVERIFY(!visibleAtSignal);
    // Closing only hides it.
    window.show();
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
    QCOMPARE(spy.count(), 4);
}

void TestAlertWindow::refreshOnlyWhileVisible()
{
    Stage stage;
    QVERIFY(stage.toWrongNoServer());
    AlertWindow window(stage.watcher.get());
    auto* led = part<InstLed>(window, "clockDisplay");
    led->setText(QStringLiteral("--:--:--"));
    QSignalSpy ticks(stage.watcher.get(), &ClockWatcher::changed);
    QVERIFY(ticks.wait(5000));
    QCOMPARE(led->text(), QStringLiteral("--:--:--"));
    window.show();
    QVERIFY(led->text() != QStringLiteral("--:--:--"));
    led->setText(QStringLiteral("--:--:--"));
    QVERIFY(ticks.wait(5000));
    QVERIFY(led->text() != QStringLiteral("--:--:--"));
}

void TestAlertWindow::survivesItsWatcher()
{
    Stage stage;
    QVERIFY(stage.toWrongNoServer());
    AlertWindow window(stage.watcher.get());
    window.show();
    stage.watcher.reset();
    window.refresh();
    window.hide();
    window.show();
    QCOMPARE(window.action(), AlertWindow::NoAction);
}

int main(int argc, char** argv)
{
    QTemporaryDir settingsDir;
    WatcherStage::useScratchSettings(settingsDir);
    QApplication app(argc, argv);
    TestAlertWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_alertwindow.moc"
