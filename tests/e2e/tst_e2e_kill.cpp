// The program killed outright (SIGKILL) at random moments while it watches
// a server in sync: the settings file must still load, the next start must
// come up as the one instance, and the stored last sync may lag the moment
// of the kill only by the save interval.

#include "e2eharness.h"
#include "e2emain.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

using namespace E2E;

namespace {
// The last sync is saved at most every 30 s while in sync, on the 1 s tick.
constexpr qint64 kSaveIntervalMs = 30000;
constexpr qint64 kTickSlackMs = 2000;
constexpr int kKills = 6;
} // namespace

class TstE2eKill : public QObject {
    Q_OBJECT
public:
    explicit TstE2eKill(const NetLan::Lan& lan)
        : lan(lan)
    {
    }

private slots:
    void killedAtRandomMomentsKeepsSettingsAndLastSync();

private:
    NetLan::Lan lan;
};

void TstE2eKill::killedAtRandomMomentsKeepsSettingsAndLastSync()
{
    // A kill mid-write corrupted the settings, lost the last sync, or left a guard that blocks the next start.
    Sandbox sandbox;
    sandbox.writeSetupRecord(lan.serverAddr.value(0));
    sandbox.writeSettings({{"menuBar/watch", true}});
    TestServer server(lan.serverNs.value(0), lan.serverAddr.value(0));
    QVERIFY(server.start());
    QProcessEnvironment env = sandbox.environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString binary = sandbox.installProgram();

    const quint32 seed = qEnvironmentVariableIsSet("PELLUM_KILL_SEED")
                             ? quint32(qEnvironmentVariableIntValue("PELLUM_KILL_SEED"))
                             : QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    qInfo("kill seed %u (set PELLUM_KILL_SEED to repeat)", seed);

    qint64 previousStored = 0;
    qint64 worstLagMs = 0;
    for (int round = 0; round < kKills; ++round) {
        Program program(binary, env, sandbox.path("program.log"));
        QVERIFY(program.start({QStringLiteral("--login")}));
        // The first kill lands during start-up; later ones anywhere in a
        // span longer than the save interval.
        const int delayMs = round == 0 ? int(random.bounded(50, 400)) : int(random.bounded(300, 45000));
        const qint64 startedAt = QDateTime::currentMSecsSinceEpoch();
        QTest::qWait(delayMs);
        QVERIFY2(program.isRunning(), qPrintable(program.log())); // came up as the one instance
        const QList<QJsonObject> reports = server.reports();
        bool syncedThisRound = false;
        for (const QJsonObject& r : reports) {
            if (r.value("state").toString() == QLatin1String("sync") && r.value("t").toDouble() > startedAt)
                syncedThisRound = true;
        }
        const qint64 killedAt = QDateTime::currentMSecsSinceEpoch();
        program.kill();
        QCOMPARE(program.waitForExit(10000), -1); // died by the signal

        QVERIFY2(sandbox.settingsLoad(), "settings file no longer loads");
        const qint64 stored = sandbox.setting("clock/lastSyncUtcMs").toLongLong();
        QVERIFY2(stored >= previousStored,
                 qPrintable(QStringLiteral("round %1: last sync went back from %2 to %3")
                                .arg(round).arg(previousStored).arg(stored)));
        QVERIFY(stored <= killedAt + 1000);
        if (syncedThisRound) {
            // In sync right up to the kill: the stored value lags by one save interval at most.
            const qint64 lag = killedAt - stored;
            worstLagMs = qMax(worstLagMs, lag);
            QVERIFY2(lag <= kSaveIntervalMs + kTickSlackMs,
                     qPrintable(QStringLiteral("round %1 (after %2 ms): stored last sync %3 ms behind")
                                    .arg(round).arg(delayMs).arg(lag)));
        }
        previousStored = stored;
    }
    qInfo("worst stored lag at a kill: %lld ms", worstLagMs);
    QVERIFY(previousStored > 0);

    // And a final ordinary start reads what the kills left.
    Program last(binary, env, sandbox.path("program.log"));
    QVERIFY(last.start({QStringLiteral("--login")}));
    const qint64 since = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(waitFor([&] {
        for (const QJsonObject& r : server.reports())
            if (r.value("t").toDouble() >= since && r.contains("last_sync"))
                return true;
        return false;
    }, 20000));
    last.terminate();
    QCOMPARE(last.waitForExit(20000), 0);
    QVERIFY(sandbox.settingsLoad());
}

PELLUM_E2E_MAIN(TstE2eKill, QCoreApplication)

#include "tst_e2e_kill.moc"
