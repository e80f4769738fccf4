// Status reports go to the server and by broadcast, so this test runs only
// inside a private test LAN: it re-executes itself under netlan.sh, moves
// into the LAN's client namespace and starts the test server in a server
// namespace on the real ports.

#include "isolatedsettings.h"
#include "netlan.h"
#include "statusreport.h"
#include "testablewatcher.h"
#include "testserverprocess.h"

#include <QCoreApplication>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

constexpr int kWaitMs = 15000;
NetLan::Lan g_lan;

} // namespace

class TestStatusReport : public QObject {
    Q_OBJECT
private:
    TestServerProcess server;
    QString serverAddr;

    QList<QJsonObject> reportsOf(const QString& id, int from = 0) const
    {
        QList<QJsonObject> out;
        const QList<QJsonObject> all = server.reports();
        for (int i = from; i < all.size(); ++i) {
            if (all.at(i).value("report").toObject().value("id").toString() == id)
                out << all.at(i);
        }
        return out;
    }

    static QSet<QString> destinations(const QList<QJsonObject>& lines)
    {
        QSet<QString> out;
        for (const QJsonObject& l : lines)
            out << l.value("to").toString();
        return out;
    }

    static QTimer* reportTimer(ClockWatcher* w)
    {
        for (QTimer* t : w->findChildren<QTimer*>()) {
            if (t->interval() == 30000)
                return t;
        }
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(g_lan.isValid());
        serverAddr = g_lan.serverAddr.value(0);
        QVERIFY(server.start({"--listen", serverAddr}, g_lan.serverNs.value(0)));
    }

    void init()
    {
        QSettings("Quorrel Two", "Tavrin Pellum").clear();
        QVERIFY(server.control(""));
    }

    void cleanupTestCase() { QCOMPARE(server.stop(), 0); }

    void reportWithoutServerGoesToBroadcasts()
    {
        auto w = std::make_unique<TestableWatcher>();
        const QString id = w->clientId();
        QSignalSpy changed(w.get(), &ClockWatcher::changed);
        w->setReporting(true);
        QVERIFY(w->reporting());
        QCOMPARE(changed.count(), 1);
        QVERIFY(reportTimer(w.get()) && reportTimer(w.get())->isActive());

        QTRY_COMPARE_WITH_TIMEOUT(reportsOf(id).size(), 2, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(w->isReported(), kWaitMs);
        const QList<QJsonObject> lines = reportsOf(id);
        QCOMPARE(destinations(lines), QSet<QString>({"255.255.255.255", g_lan.broadcast}));
        const QJsonObject r = lines.first().value("report").toObject();
        QCOMPARE(r, lines.last().value("report").toObject());
        QCOMPARE(r.value("state").toString(), QStringLiteral("none"));
        QCOMPARE(r.value("ver").toString(), QStringLiteral("1.7.0"));
        QCOMPARE(r.value("name").toString(), reportedHostName(QSysInfo::machineHostName()));
        QCOMPARE(r.value("os").toString(), QSysInfo::prettyProductName());
        QVERIFY(!r.contains("server"));
        QVERIFY(!r.contains("offset_ms"));
        QVERIFY(!r.contains("last_sync"));
        QVERIFY(!r.contains("bye"));
        QVERIFY(qAbs(qint64(r.value("t").toDouble()) - QDateTime::currentMSecsSinceEpoch()) < 60000);
        QCOMPARE(lines.first().value("from").toString(), g_lan.clientAddr);

        // Off: one goodbye per destination, and the mark goes at once.
        w->setReporting(false);
        QVERIFY(!w->isReported());
        QVERIFY(!reportTimer(w.get())->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(reportsOf(id).size(), 4, kWaitMs);
        QTest::qWait(300);
        const QList<QJsonObject> after = reportsOf(id);
        QCOMPARE(after.size(), 4);
        for (int i = 2; i < 4; ++i)
            QCOMPARE(after.at(i).value("report").toObject().value("bye"), QJsonValue(true));
        w->setReporting(false);
        w.reset(); // reporting off: no goodbye from the destructor
        QTest::qWait(300);
        QCOMPARE(reportsOf(id).size(), 4);
    }

    void stateChangeReportsAndGoodbyeOnDestruction()
    {
        auto w = std::make_unique<TestableWatcher>();
        const QString id = w->clientId();
        w->setReporting(true);
        w->setServer(serverAddr, "Lab");
        QVERIFY(!w->serverIsLocal());
        QTRY_COMPARE_WITH_TIMEOUT(w->state(), ClockState::Sync, kWaitMs);
        // One report at switching on (broadcast only: no address yet), one
        // at the change to sync, to the server and both broadcast addresses.
        QTRY_COMPARE_WITH_TIMEOUT(reportsOf(id).size(), 5, kWaitMs);
        QTest::qWait(300);
        if (reportsOf(id).size() != 5) {
            for (const QJsonObject& l : reportsOf(id))
                qWarning() << l;
        }
        QCOMPARE(reportsOf(id).size(), 5);
        const QList<QJsonObject> lines = reportsOf(id);
        QList<QJsonObject> synced;
        for (const QJsonObject& l : lines) {
            if (l.value("report").toObject().value("state").toString() == QLatin1String("sync"))
                synced << l;
        }
        QCOMPARE(synced.size(), 3);
        QCOMPARE(destinations(synced), QSet<QString>({serverAddr, "255.255.255.255", g_lan.broadcast}));
        const QJsonObject r = synced.first().value("report").toObject();
        QCOMPARE(r.value("server").toString(), serverAddr);
        QVERIFY(qAbs(r.value("offset_ms").toDouble()) <= 200);
        QCOMPARE(qint64(r.value("last_sync").toDouble()), w->lastSyncUtcMs() / 1000);

        w->sendBeacon();
        QTRY_COMPARE_WITH_TIMEOUT(reportsOf(id).size(), 8, kWaitMs);

        w.reset();
        QTRY_COMPARE_WITH_TIMEOUT(reportsOf(id).size(), 11, kWaitMs);
        for (const QJsonObject& l : reportsOf(id).mid(8))
            QCOMPARE(l.value("report").toObject().value("bye"), QJsonValue(true));
    }

    void foreignAnswersIgnored_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("wrong id") << "wrong-id";
        QTest::newRow("no id") << "no-id";
        QTest::newRow("wrong type") << "wrong-type";
        QTest::newRow("malformed") << "malformed";
        QTest::newRow("silent") << "silent";
    }

    void foreignAnswersIgnored()
    {
        QFETCH(QString, mode);
        QVERIFY(server.control("--report-answer " + mode));
        auto w = std::make_unique<TestableWatcher>();
        w->setServer(serverAddr, "");
        w->setReporting(true);
        QTRY_VERIFY_WITH_TIMEOUT(reportsOf(w->clientId()).size() >= 3, kWaitMs);
        QTest::qWait(500); // let the answers arrive and be dropped
        QVERIFY(!w->isReported());

        QVERIFY(server.control(""));
        w->sendBeacon();
        QTRY_VERIFY_WITH_TIMEOUT(w->isReported(), kWaitMs);
    }

    void reportedFor90Seconds()
    {
        auto w = std::make_unique<TestableWatcher>();
        w->setServer(serverAddr, "");
        w->setReporting(true);
        QTRY_VERIFY_WITH_TIMEOUT(w->isReported(), kWaitMs);
        // Keep later copies of the answer from moving the mark.
        QVERIFY(server.control("--report-answer silent"));
        QTest::qWait(200);
        const qint64 at = w->monotonicNowMs;
        w->monotonicNowMs = at + 90000;
        QVERIFY(w->isReported());
        w->monotonicNowMs = at + 90001;
        QVERIFY(!w->isReported());

        // A new server starts the mark afresh.
        w->monotonicNowMs = at;
        QVERIFY(w->isReported());
        w->setServer(g_lan.clientAddr, "");
        QVERIFY(!w->isReported());
        QVERIFY(w->serverIsLocal()); // the client's own LAN address
    }

    void unresolvableHostLeavesAddressNull()
    {
        auto w = std::make_unique<TestableWatcher>();
        w->setServer("no-such-host.invalid", "");
        QTest::qWait(2000);
        QVERIFY(w->serverAddress().isNull());
        QVERIFY(!w->serverIsLocal());
        QCOMPARE(w->state(), ClockState::None);
    }
};

int main(int argc, char** argv)
{
    const int outside = NetLan::reexecInside(argc, argv, 1);
    if (outside >= 0)
        return outside;
    g_lan = NetLan::fromEnvironment();
    if (!NetLan::enter(g_lan.clientNs)) {
        std::fprintf(stderr, "cannot enter the client namespace %s\n", qPrintable(g_lan.clientNs));
        return 1;
    }
    IsolatedSettings settings;
    QCoreApplication app(argc, argv);
    app.setApplicationVersion("1.7.0");
    TestStatusReport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_statusreport.moc"
