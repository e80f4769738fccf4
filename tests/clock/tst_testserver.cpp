// The test time server itself: the answers other suites rely on.

#include "frame.h"
#include "sntp.h"
#include "testserverprocess.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QtTest>

class TestTestServer : public QObject {
    Q_OBJECT
private:
    TestServerProcess server;
    quint16 ntpPort = 0;
    quint16 tavrPort = 0;
    QUdpSocket client;

    QByteArray exchange(quint16 port, const QByteArray& datagram, int waitMs = 3000)
    {
        while (client.hasPendingDatagrams())
            client.receiveDatagram();
        client.writeDatagram(datagram, QHostAddress::LocalHost, port);
        if (!client.hasPendingDatagrams() && !client.waitForReadyRead(waitMs))
            return {};
        return client.receiveDatagram().data();
    }

    QJsonObject answerBody(const QByteArray& datagram, QSet<quint8> types)
    {
        const auto frame = parseFrame(datagram, types);
        return frame ? QJsonDocument::fromJson(frame->body).object() : QJsonObject{{"unparsed", true}};
    }

private slots:
    void initTestCase()
    {
        ntpPort = TestServerProcess::freeLoopbackPort();
        tavrPort = TestServerProcess::freeLoopbackPort();
        QVERIFY(server.start({"--ntp-port", QString::number(ntpPort), "--tavr-port", QString::number(tavrPort),
                              "--name", "Bench Server", "--offset-ms", "1500"}));
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
    }

    void cleanupTestCase() { QCOMPARE(server.stop(), 0); }

    void badOptionsExitWithTwo_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown") << QStringList{"--frobnicate", "1"};
        QTest::newRow("missing value") << QStringList{"--offset-ms"};
        QTest::newRow("bad port") << QStringList{"--ntp-port", "70000"};
        QTest::newRow("bad mode") << QStringList{"--sntp", "rude"};
        QTest::newRow("ipv6 listen") << QStringList{"--listen", "::1"};
    }

    void badOptionsExitWithTwo()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(TestServerProcess::binary(), args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(!p.readAllStandardError().isEmpty());
    }

    void sntpWithOffset()
    {
        const qint64 sent = QDateTime::currentMSecsSinceEpoch();
        const QByteArray reply = exchange(ntpPort, makeSntpRequest(sent));
        qint64 offset = 0;
        QVERIFY(readSntpReply(reply, sent, QDateTime::currentMSecsSinceEpoch(), &offset));
        QVERIFY(qAbs(offset - 1500) <= 100);
    }

    void sntpMisbehaviour_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("wrong-origin") << "wrong-origin";
        QTest::newRow("wrong-mode") << "wrong-mode";
        QTest::newRow("truncated") << "truncated";
    }

    void sntpMisbehaviour()
    {
        QFETCH(QString, mode);
        QVERIFY(server.control("--sntp " + mode));
        const qint64 sent = QDateTime::currentMSecsSinceEpoch();
        const QByteArray reply = exchange(ntpPort, makeSntpRequest(sent));
        QVERIFY(!reply.isEmpty());
        QVERIFY(!readSntpReply(reply, sent, sent, nullptr));
        QVERIFY(server.control(""));
    }

    void sntpSilent()
    {
        QVERIFY(server.control("--sntp silent"));
        QVERIFY(exchange(ntpPort, makeSntpRequest(QDateTime::currentMSecsSinceEpoch()), 500).isEmpty());
        QVERIFY(server.control(""));
    }

    void discoveryAnswers()
    {
        const QByteArray query = buildFrame(DiscoveryQuery, R"({"nonce":"1f2e","client":"Tavrin Pellum"})");
        QJsonObject a = answerBody(exchange(tavrPort, query), {DiscoveryAnswerNonce});
        QCOMPARE(a.value("nonce").toString(), QStringLiteral("1f2e"));
        QCOMPARE(a.value("name").toString(), QStringLiteral("Bench Server"));
        QCOMPARE(a.value("synced"), QJsonValue(true));
        QCOMPARE(a.value("steady"), QJsonValue(false));

        QVERIFY(server.control("--answer-type 2 --flags steady --omit id --name \"Two words\" --clients 7"));
        a = answerBody(exchange(tavrPort, query), {DiscoveryAnswer});
        QVERIFY(!a.contains("nonce"));
        QVERIFY(!a.contains("id"));
        QCOMPARE(a.value("name").toString(), QStringLiteral("Two words"));
        QCOMPARE(a.value("clients").toInt(), 7);
        QCOMPARE(a.value("synced"), QJsonValue(false));
        QCOMPARE(a.value("steady"), QJsonValue(true));

        QVERIFY(server.control("--discovery stale-nonce"));
        a = answerBody(exchange(tavrPort, query), {DiscoveryAnswerNonce});
        QVERIFY(a.value("nonce").toString() != QStringLiteral("1f2e"));

        QVERIFY(server.control("--discovery malformed"));
        QVERIFY(!parseFrame(exchange(tavrPort, query), {2, 3}).has_value());

        QVERIFY(server.control("--answer-json \"[1,2]\""));
        const auto raw = parseFrame(exchange(tavrPort, query), {3});
        QVERIFY(raw.has_value());
        QCOMPARE(raw->body, QByteArray("[1,2]"));

        // Removing the lines restores the command line's answers.
        QVERIFY(server.control(""));
        a = answerBody(exchange(tavrPort, query), {DiscoveryAnswerNonce});
        QCOMPARE(a.value("name").toString(), QStringLiteral("Bench Server"));
        QCOMPARE(server.queries().size() >= 6, true);
    }

    void reportAnswersAndLog()
    {
        const int logged = server.reports().size();
        const QByteArray report = buildFrame(StatusReport, R"({"id":"ab-cd","state":"sync"})");
        QCOMPARE(answerBody(exchange(tavrPort, report), {StatusReportAnswer}).value("id").toString(),
                 QStringLiteral("ab-cd"));
        QVERIFY(server.control("--report-answer wrong-id"));
        QCOMPARE(answerBody(exchange(tavrPort, report), {StatusReportAnswer}).value("id").toString(),
                 QStringLiteral("AB-CD"));
        QVERIFY(server.control("--report-answer no-id"));
        QVERIFY(!answerBody(exchange(tavrPort, report), {StatusReportAnswer}).contains("id"));
        QVERIFY(server.control("--report-answer malformed"));
        QVERIFY(!parseFrame(exchange(tavrPort, report), {StatusReportAnswer}).has_value());
        QVERIFY(server.control("--report-answer silent"));
        QVERIFY(exchange(tavrPort, report, 500).isEmpty());
        QVERIFY(server.control(""));

        const QList<QJsonObject> lines = server.reports();
        QCOMPARE(lines.size(), logged + 5);
        const QJsonObject last = lines.last();
        QCOMPARE(last.value("from").toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(last.value("port").toInt(), int(client.localPort()));
        QCOMPARE(last.value("to").toString(), QStringLiteral("127.0.0.1"));
        QVERIFY(qAbs(qint64(last.value("rx_ms").toDouble()) - QDateTime::currentMSecsSinceEpoch()) < 60000);
        QCOMPARE(last.value("report").toObject().value("state").toString(), QStringLiteral("sync"));
    }

    void badControlFileKeepsOptions()
    {
        QVERIFY(!server.control("--sntp rude"));
        const qint64 sent = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(readSntpReply(exchange(ntpPort, makeSntpRequest(sent)), sent, sent, nullptr));
        QVERIFY(!server.control("--listen 127.0.0.2"));
    }
};

QTEST_GUILESS_MAIN(TestTestServer)
#include "tst_testserver.moc"
