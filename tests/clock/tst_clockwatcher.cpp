// The watcher against a real test server on loopback. Reporting stays off
// here (reports broadcast); tst_lan covers it on a test LAN.

#include "clockhistory.h"
#include "clockwatcher.h"
#include "elapsedclock.h"
#include "testserverprocess.h"

#include <QSettings>
#include <QtTest>

#include <memory>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#ifdef Q_OS_LINUX
#include <time.h>
#endif

namespace {
constexpr int kWaitMs = 15000;
QSettings settings() { return QSettings("Quorrel Two", "Tavrin Pellum"); }
qint64 stored() { return settings().value("clock/lastSyncUtcMs", -1).toLongLong(); }
using Kind = ClockSample::Kind;
QList<std::pair<Kind, ClockState>> kinds(const QVector<ClockSample>& record)
{
    QList<std::pair<Kind, ClockState>> out;
    for (const ClockSample& s : record)
        out << std::pair{s.kind, s.state};
    return out;
}

// A watcher whose wall clock can jump and whose two clocks move on together
// as advance() says (as a sleep does); freeze() stops their real part.
class TestableWatcher : public ClockWatcher {
public:
    explicit TestableWatcher(quint16 sntpPort) { setDestinationPorts(sntpPort, 12300); }
    void freeze() { m_frozenWall = ::wallClockNs(), m_frozenElapsed = elapsedClockNs(), m_frozen = true; }
    void advance(qint64 ms) { m_passedMs += ms; }
    qint64 jumpMs = 0;   // the wall clock set forward (+) or back (-)
    qint64 realElapsedNs() const { return ClockWatcher::elapsedNs(); }

protected:
    qint64 wallClockNs() const override { return (m_frozen ? m_frozenWall : ::wallClockNs()) + (m_passedMs + jumpMs) * 1000000; }
    qint64 elapsedNs() const override { return (m_frozen ? m_frozenElapsed : elapsedClockNs()) + m_passedMs * 1000000; }

private:
    bool m_frozen = false;
    qint64 m_frozenWall = 0, m_frozenElapsed = 0, m_passedMs = 0;
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
        QFile::remove(ClockHistory::defaultFilePath());
        QVERIFY(server.control(""));
    }

    void measuresRealServer()
    {
        // Fault: a real server's reply misread, the state not drawn from it, or the reply timed when read, not when it came.
        for (auto [control, offset] : {std::pair{"", 0}, {"--offset-ms 1500", 1500}, {"--delay-ms 300 --offset-ms -2500", -2500}}) {
            init();
            QVERIFY(server.control(control));
            const int asked = server.sntpRequests();
            auto w = std::make_unique<TestableWatcher>(ntpPort);
            w->setServer("::ffff:127.0.0.1", "Lab");
            QTRY_VERIFY_WITH_TIMEOUT(server.sntpRequests() > asked, kWaitMs);
            QThread::msleep(700);   // the thread busy while the reply comes in
            QTRY_COMPARE_WITH_TIMEOUT(w->state(), offset ? ClockState::Off : ClockState::Sync, kWaitMs);
            QVERIFY(w->serverIsLocal() && w->serverAddress() == QHostAddress("127.0.0.1"));
            QVERIFY2(qAbs(w->snapshot().offsetMs - offset) <= 20, qPrintable(QString::number(w->snapshot().offsetMs)));
            const ClockSample reply = w->history()->samples().at(1);   // after the start
            QVERIFY(reply.kind == Kind::Reply && qAbs(reply.offsetUs - w->snapshot().offsetMs * 1000) <= 500 && reply.delayUs <= 20000);
            QCOMPARE(w->lastSyncUtcMs() > 0, offset == 0);
        }
    }

    void heardWindowRecordSavingAndSleep()
    {
        // Fault: the 25 s heard window off by one; a reply, a silent server or a state change missing from the record, or out of place; the last sync saved at every tick, or lost at exit; a resume from sleep read as the clock set forward (an elapsed clock that stops in sleep).
        auto w = watcher("127.0.0.1", ClockState::Sync);
        QVERIFY(server.control("--sntp silent"));
        for (int i = 0; i < 3; ++i)
            w->onProbe();   // the first goes out; each later one finds the one before unanswered
        w->freeze();
        const qint64 heardMs = w->msSinceHeard();
        w->advance(25000 - heardMs);
        w->onTick();
        QCOMPARE(w->state(), ClockState::Sync);
        const qint64 last = w->lastSyncUtcMs();
        QVERIFY(stored() > 0 && stored() < last);
        w->advance(1);
        w->onTick();
        const QVector<ClockSample> record = w->history()->samples();
        using S = ClockState;
        QCOMPARE(kinds(record), (QList<std::pair<Kind, S>>{{Kind::Start, S::None}, {Kind::Reply, S::Sync},
            {Kind::StateChange, S::Sync}, {Kind::Missed, S::Sync}, {Kind::Missed, S::Sync}, {Kind::StateChange, S::Lost}}));
        QVERIFY(qAbs(record[5].atMs - record[4].atMs - (25001 - heardMs)) < 1000);
        w->advance(8 * 3600000LL);   // a night's sleep moves both clocks
        w->onTick();
        QVERIFY(w->state() == ClockState::Lost && w->msSinceHeard() >= 8 * 3600000LL);
        for (const ClockSample& s : w->history()->samples())
            QVERIFY(s.kind != Kind::ClockJump);
        w.reset();
        QCOMPARE(stored(), last);
        w = watcher();
        QCOMPARE(w->lastSyncUtcMs(), last);
#ifdef Q_OS_LINUX
        timespec boot{};
        ::clock_gettime(CLOCK_BOOTTIME, &boot);
        QVERIFY(qAbs(w->realElapsedNs() - (qint64(boot.tv_sec) * 1000000000 + boot.tv_nsec)) < 1000000000);
#endif
    }

    void staleRepliesAndServerChanges()
    {
        // Fault: a reply spanning a jump was measured, a step went unprobed, a new or cleared server kept the old one's knowledge, or a reply to an old request counted.
        auto w = watcher("127.0.0.1", ClockState::Sync);
        // The clock jumps while a request is out: its reply measures nothing.
        QVERIFY(server.control("--delay-ms 300"));
        w->onProbe();
        QThread::msleep(600);   // the reply waits unread, so no tick sees the jump first
        w->jumpMs = 3600000;
        w->onNtpReadyRead();
        QVERIFY2(qAbs(w->snapshot().offsetMs) < 1000, qPrintable(QString::number(w->snapshot().offsetMs)));
        QVERIFY(server.control(""));
        const int asked = server.sntpRequests();
        w->jumpMs = 3600000;
        w->onTick();
        QTRY_VERIFY_WITH_TIMEOUT(server.sntpRequests() > asked, 2000);   // probed at once
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Off, 2000);
        w->jumpMs = 0;   // put right: in sync again, without waiting for the next probe
        w->onTick();
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Sync, 2000);
        // A new server starts from nothing; a cleared one takes no late reply.
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

    void damagedRecord()
    {
        // Fault: a 1.7.0, damaged, torn or foreign record file went unread, crashed or hung the start, or lost what was sound; an append after a torn tail was misread; the record grew past a day.
        const QString path = ClockHistory::defaultFilePath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(QFile::copy(QFINDTESTDATA("data/clock-history-1.7.0"), path));
        const QVector<ClockSample> old = ClockHistory(path).samples();
        QCOMPARE(kinds(old), (QList<std::pair<Kind, ClockState>>{{Kind::StateChange, ClockState::Sync},
            {Kind::Reply, ClockState::Sync}, {Kind::Missed, ClockState::Sync}, {Kind::ClockJump, ClockState::Sync}, {Kind::Reply, ClockState::Off}}));
        QVERIFY(old[0].atMs == 1796724000000 && old[1].offsetUs == 3000 && old[1].delayUs == 2000);
        QVERIFY(old[3].offsetUs == -1500000 && old[4].atMs == 1796724020250 && old[4].offsetUs == 1497000);
        QFile::remove(path);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        int kept = 0, held = 0;
        {
            ClockHistory record(path);
            record.setTrueTime(now, elapsedClockNs() / 1000000);
            for (int i = 0; i < 9000; ++i)   // 25 hours of probes
                record.recordReply(now - (9000 - i) * 10000LL + 5000, i, 1, ClockState::Sync);
            kept = int(record.samples().size());
            QVERIFY(kept <= 8641 && kept >= 8640);
            QVERIFY(record.save());   // written whole, off the GUI thread
            for (int i = 0; i < 10; ++i)
                record.recordReply(now + i * 10000LL, i, 1, ClockState::Sync);
            held = int(record.samples().size());
        }   // appended
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray data = file.readAll();
        QCOMPARE(data.size(), 8 + 24 * (kept + 10));
        const QVector<ClockSample> back = ClockHistory(path).samples();
        QVERIFY(back.size() == held && back.constLast().atMs == now + 90000);
        data[8 + 24 * 5000 + 3] ^= 1;
        QVERIFY(file.seek(0) && file.write(data) == data.size() && file.resize(8 + 24 * 6000 - 7));
        file.close();
        {
            ClockHistory torn(path);
            QCOMPARE(torn.samples().size(), 5000);   // up to the damage
            torn.recordMissed(now, ClockState::Lost);
        }
        QCOMPARE(ClockHistory(path).samples().size(), 5001);
        QCOMPARE(QFileInfo(path).size(), 8 + 24 * 5001);
        for (const QByteArray& foreign : {QByteArray("TPCH"), QByteArray(4096, 'x')}) {
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(foreign) == foreign.size());
            file.close();
            QVERIFY(ClockHistory(path).samples().isEmpty());
        }
#ifdef Q_OS_UNIX
        QVERIFY(QFile::remove(path) && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        QVERIFY(ClockHistory(path).samples().isEmpty());   // returns at all
        QFile::remove(path);
#endif
    }

    void clockStepsKeepTheRecord()
    {
        // Fault: a clock set 2 days forward aged out the day before it; one set back hid, reordered or misdated the entries made before it.
        const qint64 began = QDateTime::currentMSecsSinceEpoch();
        auto w = watcher("127.0.0.1", ClockState::Sync);
        const ClockHistory& h = *w->history();
        const auto replies = [&] { return std::count_if(h.samples().begin(), h.samples().end(), [](const ClockSample& s) { return s.kind == Kind::Reply; }); };
        for (qint64 jump : {2 * 86400000LL, 0LL, -1800000LL}) {
            const auto before = replies();
            w->jumpMs = jump;
            w->onTick();   // sees the step and probes at once
            QTRY_VERIFY_WITH_TIMEOUT(replies() > before, 3000);
        }
        QCOMPARE(w->state(), ClockState::Wrong);
        const QVector<ClockSample> hour = h.between(h.nowMs() - 3600000, h.nowMs());
        QCOMPARE(hour.size(), h.samples().size());
        QVERIFY(std::is_sorted(hour.begin(), hour.end(), [](const ClockSample& a, const ClockSample& b) { return a.atMs < b.atMs; }));
        for (const ClockSample& s : hour)
            QVERIFY2(s.atMs >= began - 1000 && s.atMs <= QDateTime::currentMSecsSinceEpoch() + 1000, qPrintable(QString::number(s.atMs - began)));
        const auto found = [&](Kind kind, qint64 us) {
            return std::any_of(hour.begin(), hour.end(), [&](const ClockSample& s) { return s.kind == kind && qAbs(s.offsetUs - us) < 1000000; });
        };
        QVERIFY(found(Kind::ClockJump, 2 * 86400000000LL) && found(Kind::Reply, -2 * 86400000000LL) && found(Kind::Reply, 1800000000LL));
    }

    void unreadableLastSyncIsNever()
    {
        // Fault: a stored last sync that is text or before 1970 made the clock Wrong for ever.
        for (const QVariant& value : {QVariant("yesterday"), QVariant("1700000000000x"), QVariant(-5000)}) {
            settings().setValue("clock/lastSyncUtcMs", value);
            QCOMPARE(watcher()->state(), ClockState::None);
        }
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", config.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestClockWatcher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clockwatcher.moc"
