#include "clockstate.h"
#include "statusreport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

Q_DECLARE_METATYPE(ClockReading)

namespace {

constexpr qint64 kNow = 1700000000000;

ClockReading reading(qint64 nowMs, bool heard, qint64 offsetMs, qint64 lastSyncMs)
{
    ClockReading r;
    r.nowMs = nowMs;
    r.heard = heard;
    r.offsetMs = offsetMs;
    r.lastSyncUtcMs = lastSyncMs;
    return r;
}

QJsonObject parse(const QByteArray& body)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        qWarning() << "not a JSON object:" << body;
    return doc.object();
}

} // namespace

class TestClockState : public QObject {
    Q_OBJECT
private slots:
    void classify_data()
    {
        QTest::addColumn<ClockReading>("r");
        QTest::addColumn<int>("state");
        QTest::newRow("nothing") << reading(kNow, false, 0, 0) << int(ClockState::None);
        QTest::newRow("synced once, not heard") << reading(kNow, false, 0, kNow - 60000) << int(ClockState::Lost);
        QTest::newRow("offset 500") << reading(kNow, true, 500, 0) << int(ClockState::Sync);
        QTest::newRow("offset -500") << reading(kNow, true, -500, 0) << int(ClockState::Sync);
        QTest::newRow("offset 501") << reading(kNow, true, 501, 0) << int(ClockState::Off);
        QTest::newRow("offset -501") << reading(kNow, true, -501, 0) << int(ClockState::Off);
        QTest::newRow("2000 before last sync") << reading(kNow - 2000, true, 0, kNow) << int(ClockState::Sync);
        QTest::newRow("2001 before last sync") << reading(kNow - 2001, true, 0, kNow) << int(ClockState::Wrong);
        QTest::newRow("wrong outranks off") << reading(kNow - 5000, true, 4000, kNow) << int(ClockState::Wrong);
        QTest::newRow("wrong while not heard") << reading(kNow - 5000, false, 0, kNow) << int(ClockState::Wrong);
        QTest::newRow("after last sync") << reading(kNow + 99999, false, 0, kNow) << int(ClockState::Lost);
        QTest::newRow("last sync 0 never wrong") << reading(-10000, false, 0, 0) << int(ClockState::None);
    }

    void classify()
    {
        QFETCH(ClockReading, r);
        QFETCH(int, state);
        QCOMPARE(int(classifyReading(r)), state);
    }

    void serverTimeWentBackBorders()
    {
        QVERIFY(serverTimeWentBack(reading(kNow - 2001, true, 0, kNow)));
        QVERIFY(serverTimeWentBack(reading(kNow - 2001, true, 500, kNow)));
        QVERIFY(serverTimeWentBack(reading(kNow - 2001, true, -500, kNow)));
        QVERIFY(!serverTimeWentBack(reading(kNow - 2001, true, 501, kNow)));
        QVERIFY(!serverTimeWentBack(reading(kNow - 2000, true, 0, kNow)));
        QVERIFY(!serverTimeWentBack(reading(kNow - 2001, false, 0, kNow)));
        QVERIFY(!serverTimeWentBack(reading(kNow, true, 0, 0)));
    }

    void colours()
    {
        QCOMPARE(stateColor(ClockState::None), QColor(255, 69, 58));
        QCOMPARE(stateColor(ClockState::Sync), QColor(56, 224, 122));
        QCOMPARE(stateColor(ClockState::Lost), QColor(255, 159, 10));
        QCOMPARE(stateColor(ClockState::Off), QColor(255, 159, 10));
        QCOMPARE(stateColor(ClockState::Wrong), QColor(255, 69, 58));
        QCOMPARE(stateColor(ClockState(7)), QColor(255, 69, 58));
        QCOMPARE(stateColor(ClockState(-1)), QColor(255, 69, 58));
        QCOMPARE(stateColor(ClockState::Sync).alpha(), 255);
    }

    void words()
    {
        const QStringList report = {"none", "sync", "lost", "off", "wrong"};
        const QStringList tray = {"No server", "In sync", "Server not heard", "Clock is off", "Clock wrong"};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(stateReportWord(ClockState(i)), report.at(i));
            QCOMPARE(stateTrayWord(ClockState(i)), tray.at(i));
        }
        QCOMPARE(stateReportWord(ClockState(5)), QStringLiteral("none"));
        QCOMPARE(stateTrayWord(ClockState(99)), QStringLiteral("No server"));
    }

    void metaTypeName()
    {
        registerClockStateMetaType();
        QCOMPARE(QMetaType::fromName("ClockState"), QMetaType::fromType<ClockState>());
    }

    void hostNameSuffix()
    {
        QCOMPARE(reportedHostName("desk.local"), QStringLiteral("desk"));
        QCOMPARE(reportedHostName("desk.LOCAL"), QStringLiteral("desk.LOCAL"));
        QCOMPARE(reportedHostName("desk.local.local"), QStringLiteral("desk.local"));
        QCOMPARE(reportedHostName("desk"), QStringLiteral("desk"));
        QCOMPARE(reportedHostName(".local"), QString());
    }

    void reportBodyMinimal()
    {
        StatusReportFields f;
        f.clientId = "0f0e-id";
        f.hostName = "desk.local";
        f.osName = "Some OS 1";
        f.version = "1.7.0";
        f.state = ClockState::Lost;
        f.reading = reading(kNow + 1, false, 333, 0);
        const QByteArray body = statusReportBody(f);
        // Compact: no white space between the members.
        QCOMPARE(body, QByteArray(R"({"id":"0f0e-id","name":"desk","os":"Some OS 1","state":"lost",)"
                                  R"("t":1700000000001,"ver":"1.7.0"})"));
        const QJsonObject o = parse(body);
        QCOMPARE(o.keys(), QStringList({"id", "name", "os", "state", "t", "ver"}));
        QCOMPARE(o.value("id").toString(), QStringLiteral("0f0e-id"));
        QCOMPARE(o.value("name").toString(), QStringLiteral("desk"));
        QCOMPARE(o.value("os").toString(), QStringLiteral("Some OS 1"));
        QCOMPARE(o.value("ver").toString(), QStringLiteral("1.7.0"));
        QCOMPARE(o.value("state").toString(), QStringLiteral("lost"));
        QCOMPARE(qint64(o.value("t").toDouble()), kNow + 1);
    }

    void reportBodyFull()
    {
        StatusReportFields f;
        f.clientId = "id";
        f.bye = true;
        f.state = ClockState(9);
        f.reading = reading(kNow, true, -42, 1700000001999);
        f.server = QHostAddress("10.1.2.3");
        const QJsonObject o = parse(statusReportBody(f));
        QCOMPARE(o.value("bye"), QJsonValue(true));
        QCOMPARE(o.value("state").toString(), QStringLiteral("none"));
        QCOMPARE(o.value("offset_ms").toDouble(), -42.0);
        QCOMPARE(o.value("last_sync").toDouble(), 1700000001.0);
        QCOMPARE(o.value("server").toString(), QStringLiteral("10.1.2.3"));
    }
};

QTEST_GUILESS_MAIN(TestClockState)
#include "tst_clockstate.moc"
