// The watcher against a real test server on loopback. Reporting stays off
// here (reports broadcast); tst_lan covers it on a test LAN.

#include "clockwatcher.h"
#include "testserverprocess.h"

#include <QSettings>
#include <QtTest>

#include <memory>
#include <utility>

namespace {
constexpr int kWaitMs = 15000;
QSettings settings() { return QSettings("Quorrel Two", "Tavrin Pellum"); }
qint64 stored() { return settings().value("clock/lastSyncUtcMs", -1).toLongLong(); }

// A watcher whose wall clock can jump and whose two clocks move on together
// as advance() says; freeze() stops their real part.
class TestableWatcher : public ClockWatcher {
public:
    explicit TestableWatcher(quint16 sntpPort) { setDestinationPorts(sntpPort, 12300), m_mono.start(); }
    void freeze() { m_frozenWall = QDateTime::currentMSecsSinceEpoch(), m_frozenMono = m_mono.elapsed(), m_frozen = true; }
    void advance(qint64 ms) { m_passedMs += ms; }
    qint64 jumpMs = 0;   // the wall clock set forward (+) or back (-)

protected:
    qint64 wallClockMs() const override { return (m_frozen ? m_frozenWall : QDateTime::currentMSecsSinceEpoch()) + m_passedMs + jumpMs; }
    qint64 monotonicMs() const override { return (m_frozen ? m_frozenMono : m_mono.elapsed()) + m_passedMs; }

private:
    QElapsedTimer m_mono;
    bool m_frozen = false;
    qint64 m_frozenWall = 0, m_frozenMono = 0, m_passedMs = 0;
};
} // namespace

class TestClockWatcher : public QObject {
    Q_OBJECT
    TestServerProcess server;
    quint16 ntpPort = freeUdpPort();

    std::unique_ptr<TestableWatcher> watcher(const QString& host = {}, ClockState until = ClockState::None)
    {
        auto w = std::make_unique<TestableWatcher>(ntpPort);
        w->setServer(host, "Lab");
        if (!host.isEmpty() && !QTest::qWaitFor([&] { return w->state() == until; }, kWaitMs))
            qWarning() << "watcher stuck in state" << int(w->state());
        return w;
    }

private slots:
    void initTestCase() { QVERIFY(server.start({"--ntp-port", QString::number(ntpPort), "--tavr-port", "0"})); }
    void init()
    {
        settings().clear();
        QVERIFY(server.control(""));
    }

    void measuresRealServer()
    {
        // Fault: a real server's reply misread, or the state not drawn from it.
        for (auto [control, offset] : {std::pair{"", 0}, {"--offset-ms 1500", 1500}, {"--delay-ms 300 --offset-ms -2500", -2500}}) {
            settings().clear();
            QVERIFY(server.control(control));
            auto w = watcher("::ffff:127.0.0.1", offset ? ClockState::Off : ClockState::Sync);
            QVERIFY(w->serverIsLocal() && w->serverAddress() == QHostAddress("127.0.0.1"));
            QVERIFY2(qAbs(w->snapshot().offsetMs - offset) <= 200, qPrintable(QString::number(w->snapshot().offsetMs)));
            QCOMPARE(w->lastSyncUtcMs() > 0, offset == 0);
        }
    }

    void heardWindowAndSaving()
    {
        // Fault: the 25 s heard window off by one; the last sync saved at every tick, or lost at exit.
        auto w = watcher("127.0.0.1", ClockState::Sync);
        w->freeze();
        w->advance(25000 - w->msSinceHeard());
        w->onTick();
        QCOMPARE(w->state(), ClockState::Sync);
        const qint64 last = w->lastSyncUtcMs();
        QVERIFY(stored() > 0 && stored() < last);
        w->advance(1);
        w->onTick();
        QCOMPARE(w->state(), ClockState::Lost);
        w.reset();
        QCOMPARE(stored(), last);
        QCOMPARE(watcher()->lastSyncUtcMs(), last);
    }

    void clockJumps()
    {
        // Fault: a reply spanning a jump was measured; a clock set forward became the last sync; one set back was taken for the server's time going back.
        auto w = watcher("127.0.0.1", ClockState::Sync);
        // The clock jumps while a request is out: its reply measures nothing.
        QVERIFY(server.control("--delay-ms 300"));
        w->onProbe();
        QThread::msleep(600);   // the reply waits unread, so no tick sees the jump first
        w->jumpMs = 3600000;
        w->onNtpReadyRead();
        QVERIFY2(qAbs(w->snapshot().offsetMs) < 1000, qPrintable(QString::number(w->snapshot().offsetMs)));
        QVERIFY(server.control(""));
        const qint64 before = w->lastSyncUtcMs();
        const int asked = server.sntpRequests();
        w->jumpMs = 3600000;
        w->onTick();
        QVERIFY(w->state() != ClockState::Sync);
        QVERIFY(w->lastSyncUtcMs() < before + 5000);
        QTRY_VERIFY_WITH_TIMEOUT(server.sntpRequests() > asked, 2000);   // probed at once
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Off, 2000);
        w->jumpMs = 0;   // put right: in sync again, without waiting for the next probe
        w->onTick();
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Sync, 2000);
        QVERIFY(w->lastSyncUtcMs() < QDateTime::currentMSecsSinceEpoch() + 1000);
        // Set back past the last sync: Wrong, and the reply from before the jump agrees with nothing.
        w->jumpMs = -4000;
        QVERIFY(!w->snapshot().heard);
        w->onTick();
        QCOMPARE(w->state(), ClockState::Wrong);
        QVERIFY(!w->snapshot().heard && !serverTimeWentBack(w->snapshot()));
        QTRY_VERIFY_WITH_TIMEOUT(w->snapshot().heard, 2000);
        QVERIFY(!serverTimeWentBack(w->snapshot()) && w->state() == ClockState::Wrong);
    }

    void unreadableLastSyncIsNever()
    {
        // Fault: a stored last sync that is text or before 1970 made the clock Wrong for ever.
        for (const QVariant& value : {QVariant("yesterday"), QVariant("1700000000000x"), QVariant(-5000)}) {
            settings().setValue("clock/lastSyncUtcMs", value);
            QCOMPARE(watcher()->state(), ClockState::None);
        }
        settings().setValue("clock/lastSyncUtcMs", QDateTime::currentMSecsSinceEpoch() + 60000);
        QCOMPARE(watcher()->state(), ClockState::Wrong);
    }

    void serverChanges()
    {
        // Fault: a new or cleared server keeps the old one's knowledge, or a reply to an old request counts.
        auto w = watcher("127.0.0.1", ClockState::Sync);
        w->setServerSteady(true);
        w->setServer("localhost", "By name");
        QVERIFY(w->serverAddress().isNull() && !w->serverSteady() && w->state() == ClockState::Lost);
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Sync, kWaitMs);
        QVERIFY(server.control("--delay-ms 700"));
        w->setServer("127.0.0.1", "");
        w->setServer("", "");
        QTest::qWait(1200);   // the delayed reply comes with nothing asked
        QCOMPARE(w->msSinceHeard(), qint64(-1));
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestClockWatcher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clockwatcher.moc"
