// The watcher against a real test server process on loopback. Reporting
// stays off here: reports broadcast and are tested in a private LAN.

#include "isolatedsettings.h"
#include "testablewatcher.h"
#include "testserverprocess.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

constexpr int kWaitMs = 15000;

qint64 storedLastSync()
{
    return QSettings("Quorrel Two", "Tavrin Pellum").value("clock/lastSyncUtcMs", qint64(-1)).toLongLong();
}

} // namespace

class TestClockWatcher : public QObject {
    Q_OBJECT
private:
    TestServerProcess server;
    quint16 ntpPort = 0;
    quint16 unusedPort = 0;

    std::unique_ptr<TestableWatcher> makeWatcher()
    {
        auto w = std::make_unique<TestableWatcher>();
        w->usePorts(ntpPort, unusedPort);
        return w;
    }

    // A watcher that has heard the server once and is in sync.
    std::unique_ptr<TestableWatcher> syncedWatcher()
    {
        auto w = makeWatcher();
        w->setServer("127.0.0.1", "Lab");
        if (!QTest::qWaitFor([&] { return w->state() == ClockState::Sync; }, kWaitMs))
            return nullptr;
        return w;
    }

private slots:
    void initTestCase()
    {
        ntpPort = TestServerProcess::freeLoopbackPort();
        unusedPort = TestServerProcess::freeLoopbackPort();
        QVERIFY2(server.start({"--listen", "127.0.0.1", "--ntp-port", QString::number(ntpPort), "--tavr-port", "0"}),
                 "test server did not start");
    }

    void init()
    {
        QSettings("Quorrel Two", "Tavrin Pellum").clear();
        QVERIFY(server.control(""));
    }

    void cleanupTestCase() { QCOMPARE(server.stop(), 0); }

    void startsWithoutServer()
    {
        auto w = makeWatcher();
        QCOMPARE(w->state(), ClockState::None);
        QCOMPARE(w->msSinceHeard(), qint64(-1));
        QVERIFY(w->serverLabel().isEmpty());
        QVERIFY(w->serverAddress().isNull());
        QVERIFY(!w->reporting());
        QVERIFY(!w->isReported());
        QCOMPARE(w->lastSyncUtcMs(), qint64(0));
        QVERIFY(QRegularExpression("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")
                    .match(w->clientId())
                    .hasMatch());
        QCOMPARE(QSettings("Quorrel Two", "Tavrin Pellum").value("clientId").toString(), w->clientId());
        const QString id = w->clientId();
        w.reset();
        QCOMPARE(makeWatcher()->clientId(), id);
    }

    void emptyClientIdIsReplaced()
    {
        QSettings("Quorrel Two", "Tavrin Pellum").setValue("clientId", QString());
        auto w = makeWatcher();
        QCOMPARE(w->clientId().size(), 36);
    }

    void syncsWithServer()
    {
        auto w = makeWatcher();
        QSignalSpy states(w.get(), &ClockWatcher::stateChanged);
        QSignalSpy changed(w.get(), &ClockWatcher::changed);
        w->setServer("127.0.0.1", "Lab");
        QCOMPARE(w->serverAddress(), QHostAddress("127.0.0.1"));
        QVERIFY(w->serverIsLocal());
        QCOMPARE(w->serverLabel(), QStringLiteral("Lab"));
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Sync, kWaitMs);
        QCOMPARE(states.count(), 1);
        QCOMPARE(states.at(0).at(0).value<ClockState>(), ClockState::Sync);
        QVERIFY(changed.count() >= 1);
        const ClockReading r = w->snapshot();
        QVERIFY(r.heard);
        QVERIFY2(qAbs(r.offsetMs) <= 200, qPrintable(QString::number(r.offsetMs)));
        QVERIFY(qAbs(w->lastSyncUtcMs() - r.nowMs) < 5000);
        QCOMPARE(w->msSinceHeard(), qint64(0));
        QVERIFY(qAbs(storedLastSync() - w->lastSyncUtcMs()) < 5000);
    }

    void offWhenServerDisagrees()
    {
        QVERIFY(server.control("--offset-ms 1500"));
        auto w = makeWatcher();
        w->setServer("127.0.0.1", "");
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Off, kWaitMs);
        QVERIFY2(qAbs(w->snapshot().offsetMs - 1500) <= 200, qPrintable(QString::number(w->snapshot().offsetMs)));
        QCOMPARE(w->lastSyncUtcMs(), qint64(0));
        QCOMPARE(w->serverLabel(), QStringLiteral("127.0.0.1"));
    }

    void lostWhenServerFallsSilent()
    {
        auto w = syncedWatcher();
        QVERIFY(w);
        QVERIFY(server.control("--sntp silent"));
        QSignalSpy states(w.get(), &ClockWatcher::stateChanged);
        w->monotonicNowMs += 25000;
        w->onTick();
        QCOMPARE(w->state(), ClockState::Sync);
        w->monotonicNowMs += 1;
        w->onTick();
        QCOMPARE(w->state(), ClockState::Lost);
        QCOMPARE(w->msSinceHeard(), qint64(25001));
        QCOMPARE(states.count(), 1);
        w->onProbe();
        QTest::qWait(500);
        QCOMPARE(w->state(), ClockState::Lost);
    }

    void wrongWhenClockSetBehindLastSync()
    {
        auto w = syncedWatcher();
        QVERIFY(w);
        w->wallShiftMs = -4000;
        w->onTick();
        QCOMPARE(w->state(), ClockState::Wrong);
        // The last reply still agrees with the clock: the server went back too.
        QVERIFY(serverTimeWentBack(w->snapshot()));
        w->onProbe();
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(w->snapshot().offsetMs - 4000) <= 200, kWaitMs);
        QCOMPARE(w->state(), ClockState::Wrong);
        QVERIFY(!serverTimeWentBack(w->snapshot()));
        w->resetLastSync();
        QCOMPARE(w->lastSyncUtcMs(), qint64(0));
        QCOMPARE(storedLastSync(), qint64(0));
        QCOMPARE(w->state(), ClockState::Off);
    }

    void smallJumpBackIsFollowed()
    {
        auto w = syncedWatcher();
        QVERIFY(w);
        w->onTick();
        const qint64 before = w->lastSyncUtcMs();
        w->wallShiftMs = -1200;
        w->onTick();
        QCOMPARE(w->state(), ClockState::Sync);
        QVERIFY(w->lastSyncUtcMs() < before);
        w->onProbe();
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Off, kWaitMs);
    }

    void badRepliesIgnored_data()
    {
        QTest::addColumn<QString>("misbehaviour");
        QTest::newRow("wrong origin") << "--sntp wrong-origin";
        QTest::newRow("wrong mode") << "--sntp wrong-mode";
        QTest::newRow("truncated") << "--sntp truncated";
        QTest::newRow("leap 3") << "--leap 3";
        QTest::newRow("stratum 0") << "--stratum 0";
    }

    void badRepliesIgnored()
    {
        QFETCH(QString, misbehaviour);
        QVERIFY(server.control(misbehaviour));
        auto w = makeWatcher();
        QSignalSpy states(w.get(), &ClockWatcher::stateChanged);
        const int before = server.sntpRequests();
        w->setServer("127.0.0.1", "");
        QTRY_VERIFY_WITH_TIMEOUT(server.sntpRequests() > before, kWaitMs);
        QTest::qWait(300); // let the bad reply arrive and be dropped
        QCOMPARE(w->msSinceHeard(), qint64(-1));
        QCOMPARE(w->state(), ClockState::None);
        QCOMPARE(states.count(), 0);

        QVERIFY(server.control(""));
        w->onProbe();
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Sync, kWaitMs);
    }

    void delayedReplyStillMeasuresOffset()
    {
        QVERIFY(server.control("--delay-ms 300 --offset-ms -2500"));
        auto w = makeWatcher();
        w->setServer("127.0.0.1", "");
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Off, kWaitMs);
        QVERIFY(qAbs(w->snapshot().offsetMs + 2500) <= 200);
    }

    void lastSyncSavedThrottledAndRestored()
    {
        auto w = syncedWatcher();
        QVERIFY(w);
        const qint64 first = storedLastSync();
        QVERIFY(first > 0);

        // In sync the last sync follows the clock, but is stored at most
        // every 30 s.
        QTest::qWait(20);
        w->monotonicNowMs += 20000;
        w->onProbe();
        QTRY_COMPARE_WITH_TIMEOUT(w->msSinceHeard(), qint64(0), kWaitMs);
        QCOMPARE(w->state(), ClockState::Sync);
        QVERIFY(w->lastSyncUtcMs() > first);
        QCOMPARE(storedLastSync(), first);
        w->monotonicNowMs += 9999;
        w->onTick();
        QCOMPARE(storedLastSync(), first);
        w->monotonicNowMs += 1;
        w->onTick();
        QCOMPARE(storedLastSync(), w->lastSyncUtcMs());

        // The destructor stores it whatever the throttle says.
        w->onTick();
        const qint64 last = w->lastSyncUtcMs();
        w.reset();
        QCOMPARE(storedLastSync(), last);

        auto restored = makeWatcher();
        QCOMPARE(restored->lastSyncUtcMs(), last);
        QCOMPARE(restored->state(), ClockState::Lost);
    }

    void restoredAheadOfClockIsWrong()
    {
        QSettings("Quorrel Two", "Tavrin Pellum")
            .setValue("clock/lastSyncUtcMs", QDateTime::currentMSecsSinceEpoch() + 60000);
        auto w = makeWatcher();
        QCOMPARE(w->state(), ClockState::Wrong);
    }

    void unreadableLastSyncIsNever_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("text") << QVariant(QStringLiteral("yesterday"));
        QTest::newRow("number then text") << QVariant(QStringLiteral("1700000000000x"));
        QTest::newRow("negative") << QVariant(qint64(-5000));
        QTest::newRow("list") << QVariant(QStringList{QStringLiteral("1"), QStringLiteral("2")});
    }

    void unreadableLastSyncIsNever()
    {
        QFETCH(QVariant, stored);
        QSettings("Quorrel Two", "Tavrin Pellum").setValue("clock/lastSyncUtcMs", stored);
        auto w = makeWatcher();
        QCOMPARE(w->lastSyncUtcMs(), qint64(0));
        QCOMPARE(w->state(), ClockState::None);
    }

    void sameHostOnlyRenames()
    {
        auto w = syncedWatcher();
        QVERIFY(w);
        w->setServerSteady(true);
        QSignalSpy changed(w.get(), &ClockWatcher::changed);
        w->setServer("127.0.0.1", "Renamed");
        QCOMPARE(changed.count(), 1);
        QCOMPARE(w->serverName(), QStringLiteral("Renamed"));
        QCOMPARE(w->state(), ClockState::Sync);
        QVERIFY(w->serverSteady());
        QCOMPARE(w->msSinceHeard(), qint64(0));
    }

    void newHostDropsOldKnowledgeAndLooksUp()
    {
        auto w = syncedWatcher();
        QVERIFY(w);
        w->setServerSteady(true);
        w->setServer("localhost", "By name");
        QVERIFY(w->serverAddress().isNull());
        QVERIFY(!w->serverIsLocal());
        QVERIFY(!w->serverSteady());
        QCOMPARE(w->msSinceHeard(), qint64(-1));
        QCOMPARE(w->state(), ClockState::Lost);
        QTRY_COMPARE_WITH_TIMEOUT(w->serverAddress(), QHostAddress("127.0.0.1"), kWaitMs);
        QVERIFY(w->serverIsLocal());
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Sync, kWaitMs);
    }

    void clearedServerDropsPendingRequest()
    {
        QVERIFY(server.control("--delay-ms 700"));
        auto w = makeWatcher();
        const int before = server.sntpRequests();
        w->setServer("127.0.0.1", "");
        QTRY_VERIFY_WITH_TIMEOUT(server.sntpRequests() > before, kWaitMs);
        w->setServer("", "");
        QTest::qWait(1500); // the delayed reply arrives with nothing asked
        QCOMPARE(w->msSinceHeard(), qint64(-1));
        QCOMPARE(w->state(), ClockState::None);
    }

    void lateLookupHasNoEffect()
    {
        auto w = makeWatcher();
        w->setServer("localhost", "");
        w->setServer("127.0.0.2", "");
        QTest::qWait(1000); // the lookup of the first host completes meanwhile
        QCOMPARE(w->serverAddress(), QHostAddress("127.0.0.2"));
        QCOMPARE(w->serverHost(), QStringLiteral("127.0.0.2"));
    }

    void mappedAddressIsTakenAsIpv4()
    {
        auto w = makeWatcher();
        w->setServer("::ffff:127.0.0.1", "");
        QCOMPARE(w->serverAddress(), QHostAddress("127.0.0.1"));
        QVERIFY(w->serverIsLocal());
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Sync, kWaitMs);
    }

    void emptyHostClearsServer()
    {
        auto w = syncedWatcher();
        QVERIFY(w);
        w->setServer("", "");
        QVERIFY(w->serverAddress().isNull());
        QCOMPARE(w->state(), ClockState::Lost);
        const int before = server.sntpRequests();
        w->onProbe();
        QTest::qWait(300);
        QCOMPARE(server.sntpRequests(), before);
    }

    void steadyFlagEmitsChanged()
    {
        auto w = makeWatcher();
        QSignalSpy changed(w.get(), &ClockWatcher::changed);
        w->setServerSteady(true);
        QVERIFY(w->serverSteady());
        QCOMPARE(changed.count(), 1);
    }

    void tickEmitsChanged()
    {
        auto w = makeWatcher();
        QSignalSpy changed(w.get(), &ClockWatcher::changed);
        QVERIFY(changed.wait(5000)); // the 1 s tick
    }
};

int main(int argc, char** argv)
{
    IsolatedSettings settings;
    QCoreApplication app(argc, argv);
    app.setApplicationVersion("1.7.0");
    TestClockWatcher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clockwatcher.moc"
