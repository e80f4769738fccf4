// The main window's alert link as the controller drives it: shown only while
// the clock is wrong and the alert window is out of sight.
#include "alertwindow.h"
#include "clientapp.h"
#include "clockwatcher.h"
#include "pellumwindow.h"
#include "windowtestkit.h"

#include <QLabel>
#include <QSettings>
#include <QTest>

class WindowAlertLinkTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QSettings().clear();
        WindowTestKit::clearRecord();
    }

    void linkFollowsStateAndAlertWindow()
    {
        // The clock already reads an hour earlier than its last sync.
        QSettings().setValue(QStringLiteral("clock/lastSyncUtcMs"), QDateTime::currentMSecsSinceEpoch() + 3600000);
        ClientApp app(false);
        QCOMPARE(app.clockWatcher()->state(), ClockState::Wrong);
        auto* link = app.mainWindow()->findChild<QLabel*>(QStringLiteral("alertLink"));
        QVERIFY(link);
        QVERIFY(app.alert()->isVisible());
        QVERIFY(link->isHidden());

        // Put away: the link leads back to it.
        app.alert()->hide();
        QTRY_VERIFY(!link->isHidden());
        QVERIFY(link->text().contains(QStringLiteral("Show the clock alert")));
        emit link->linkActivated(QStringLiteral("alert"));
        QTRY_VERIFY(app.alert()->isVisible());
        QVERIFY(link->isHidden());

        // Once the clock is no longer wrong, neither shows.
        app.alert()->hide();
        QTRY_VERIFY(!link->isHidden());
        app.clockWatcher()->resetLastSync();
        QVERIFY(app.clockWatcher()->state() != ClockState::Wrong);
        QTRY_VERIFY(link->isHidden());
        QVERIFY(!app.alert()->isVisible());
    }

    void noLinkWhileClockIsFine()
    {
        ClientApp app(false);
        auto* link = app.mainWindow()->findChild<QLabel*>(QStringLiteral("alertLink"));
        QVERIFY(link);
        QVERIFY(app.mainWindow()->isVisible());
        app.alert()->show();
        app.alert()->hide();
        QVERIFY(link->isHidden());
    }
};

int main(int argc, char** argv)
{
    if (!WindowTestKit::enterPrivateNetwork()) {
        std::fprintf(stderr, "SKIP: needs root for a private network namespace\n");
        return 77;
    }
    QTemporaryDir scratch;
    WindowTestKit::useScratchRoot(scratch.path());
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Quorrel Two"));
    app.setApplicationName(QStringLiteral("Tavrin Pellum"));
    WindowAlertLinkTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowalertlink.moc"
