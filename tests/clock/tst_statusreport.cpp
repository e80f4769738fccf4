// Status reports broadcast, so this runs on a private test LAN: it re-runs
// itself under netlan.sh, enters the client namespace (with private
// /etc/hosts and resolver files) and starts two test servers on the real ports.

#include "netlan.h"
#include "testablewatcher.h"
#include "testserverprocess.h"

#include <QSet>
#include <QSettings>
#include <QtTest>

#include <sys/mount.h>

#include <memory>

namespace {
constexpr int kWaitMs = 15000;
NetLan::Lan lan;
QTemporaryDir etc;
} // namespace

class TestStatusReport : public QObject {
    Q_OBJECT
    TestServerProcess own, other;

    QList<QJsonObject> reportsOf(const TestServerProcess& server, const QString& id) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject& line : server.reports())
            if (line.value("report").toObject().value("id").toString() == id)
                out << line;
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(own.start({"--listen", lan.serverAddr[0]}, lan.serverNs[0]));
        QVERIFY(other.start({"--listen", lan.serverAddr[1]}, lan.serverNs[1]));
    }
    void init() { QVERIFY(own.control("") && other.control("--report-answer silent")); }

    void reportsReachServerAndBroadcasts()
    {
        // Fault: a report missing a destination, a state change or its goodbye.
        auto w = std::make_unique<TestableWatcher>();
        const QString id = w->clientId();
        w->setReporting(true);
        QTRY_COMPARE_WITH_TIMEOUT(reportsOf(own, id).size(), 2, kWaitMs);
        QSet<QString> to;
        for (const QJsonObject& line : reportsOf(own, id))
            to << line.value("to").toString();
        QCOMPARE(to, (QSet<QString>{"255.255.255.255", lan.broadcast}));
        const QJsonObject first = reportsOf(own, id).first().value("report").toObject();
        QCOMPARE(first.value("state").toString(), QStringLiteral("none"));
        QVERIFY(!first.contains("server") && !first.contains("offset_ms") && !first.contains("last_sync"));
        w->setServer(lan.serverAddr[0], "Lab");   // Sync: one more report, now also to the server
        QTRY_COMPARE_WITH_TIMEOUT(reportsOf(own, id).size(), 5, kWaitMs);
        const QJsonObject synced = reportsOf(own, id).last().value("report").toObject();
        QCOMPARE(synced.value("state").toString(), QStringLiteral("sync"));
        QCOMPARE(qint64(synced.value("last_sync").toDouble()), w->lastSyncUtcMs() / 1000);
        w->setReporting(false);
        QVERIFY(!w->isReported());
        w.reset();   // reporting off: no second goodbye
        QTest::qWait(500);
        const QList<QJsonObject> all = reportsOf(own, id);
        QCOMPARE(all.size(), 8);
        for (const QJsonObject& line : all.mid(5))
            QCOMPARE(line.value("report").toObject().value("bye"), QJsonValue(true));
    }

    void onlyOwnServersAnswerCounts_data()
    {
        QTest::addColumn<QString>("ownAnswer");
        QTest::addColumn<QString>("otherAnswer");
        QTest::addColumn<bool>("reported");
        QTest::newRow("own server") << "normal" << "silent" << true;
        QTest::newRow("another server") << "silent" << "normal" << false;
        for (const char* mode : {"wrong-id", "no-id", "wrong-type", "malformed", "oversized"})
            QTest::newRow(mode) << mode << "silent" << false;
    }
    void onlyOwnServersAnswerCounts()
    {
        // Fault: "reported" shown for an answer from another server, for another id, or in a broken frame.
        QFETCH(QString, ownAnswer);
        QFETCH(QString, otherAnswer);
        QFETCH(bool, reported);
        QVERIFY(own.control("--report-answer " + ownAnswer) && other.control("--report-answer " + otherAnswer));
        TestableWatcher w;
        w.setServer(lan.serverAddr[0], "Lab");
        w.setReporting(true);
        QTRY_VERIFY_WITH_TIMEOUT(reportsOf(other, w.clientId()).size() >= 2 && reportsOf(own, w.clientId()).size() >= 3, kWaitMs);
        QTest::qWait(300);
        QCOMPARE(w.isReported(), reported);
    }

    void reportedFor90Seconds()
    {
        // Fault: the 90 s "reported" window off by one.
        TestableWatcher w;
        w.setServer(lan.serverAddr[0], "Lab");
        w.freeze();
        w.setReporting(true);
        QTRY_VERIFY_WITH_TIMEOUT(w.isReported(), kWaitMs);
        QTest::qWait(500);   // every copy answered while the clocks stand
        w.advance(90000);
        QVERIFY(w.isReported());
        w.advance(1);
        QVERIFY(!w.isReported());
    }

    void hostNameLookedUpAgain()
    {
        // Fault: a host name that failed to resolve once was never looked up again.
        TestableWatcher w;
        w.setServer("pellum-late-server", "Lab");
        QTest::qWait(1500);
        QVERIFY(w.serverAddress().isNull());
        QFile hosts(etc.filePath("hosts"));
        QVERIFY(hosts.open(QIODevice::Append));
        hosts.write(lan.serverAddr[0].toLatin1() + " pellum-late-server\n");
        hosts.close();
        w.onProbe();   // what the probe timer does every 10 s
        QTRY_COMPARE_WITH_TIMEOUT(w.state(), ClockState::Sync, kWaitMs);
    }
};

int main(int argc, char** argv)
{
    const int outside = NetLan::reexecInside(argc, argv, 2);
    if (outside >= 0)
        return outside;
    lan = NetLan::fromEnvironment();
    // Private name files: the lookups go nowhere but to them.
    for (const char* name : {"hosts", "resolv.conf"}) {
        QFile file(etc.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(name[0] == 'h' ? "127.0.0.1 localhost\n" : "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
        file.close();
    }
    if (!NetLan::enter(lan.clientNs) || unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount(qPrintable(etc.filePath("hosts")), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0
        || mount(qPrintable(etc.filePath("resolv.conf")), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
        std::perror("cannot set up the client namespace");
        return 1;
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestStatusReport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_statusreport.moc"
