// Texts and ratings of the main window that follow from plain values.
#include "addresscheck.h"
#include "serverrating.h"
#include "statustexts.h"

#include <QDateTime>
#include <QTest>

class StatusTextsTest : public QObject {
    Q_OBJECT

private slots:
    void offsetReadoutBorders();
    void serverHeardBorders();
    void lastSyncTodayAndEarlier();
    void statusLinePerState_data();
    void statusLinePerState();
    void offWordsFollowTheSign();
    void dateLine();
    void ratingWords_data();
    void ratingWords();
    void eligibility();
    void typedAddresses_data();
    void typedAddresses();
    void loopbackIsThisComputer();
};

static ClockReading heard(qint64 offsetMs)
{
    ClockReading r;
    r.nowMs = QDateTime::currentMSecsSinceEpoch();
    r.heard = true;
    r.offsetMs = offsetMs;
    return r;
}

void StatusTextsTest::offsetReadoutBorders()
{
    StatusTexts::Value v = StatusTexts::offset(heard(9999));
    QCOMPARE(v.value, QStringLiteral("9.999"));
    QCOMPARE(v.unit, QStringLiteral("s"));
    QVERIFY(!v.placeholder);

    v = StatusTexts::offset(heard(10000));
    QCOMPARE(v.value, QStringLiteral("10 s"));
    QCOMPARE(v.unit, QString());

    v = StatusTexts::offset(heard(-250));
    QCOMPARE(v.value, QStringLiteral("0.250"));
    QCOMPARE(v.unit, QStringLiteral("s"));

    v = StatusTexts::offset(heard(-9999));
    QCOMPARE(v.value, QStringLiteral("9.999"));
    v = StatusTexts::offset(heard(-10000));
    QCOMPARE(v.value, QStringLiteral("10 s"));

    ClockReading silent = heard(1234);
    silent.heard = false;
    v = StatusTexts::offset(silent);
    QVERIFY(v.placeholder);
    QCOMPARE(v.value, QStringLiteral("-.---"));
}

void StatusTextsTest::serverHeardBorders()
{
    StatusTexts::Value v = StatusTexts::serverHeard(99999, 1);
    QCOMPARE(v.value, QStringLiteral("99"));
    QCOMPARE(v.unit, QStringLiteral("s ago"));
    v = StatusTexts::serverHeard(100000, 1);
    QCOMPARE(v.value, QStringLiteral("1"));
    QCOMPARE(v.unit, QStringLiteral("min ago"));
    v = StatusTexts::serverHeard(59999, 1);
    QCOMPARE(v.value, QStringLiteral("59"));
    QCOMPARE(v.unit, QStringLiteral("s ago"));
    v = StatusTexts::serverHeard(0, 0);
    QCOMPARE(v.value, QStringLiteral("0"));
    v = StatusTexts::serverHeard(-1, 5);
    QCOMPARE(v.value, QStringLiteral("no answer"));
    QCOMPARE(v.unit, QString());
    v = StatusTexts::serverHeard(-1, 0);
    QCOMPARE(v.value, QStringLiteral("never"));
}

void StatusTextsTest::lastSyncTodayAndEarlier()
{
    const QDateTime now(QDate(2026, 3, 2), QTime(10, 0, 0));
    const QDateTime earlierToday(QDate(2026, 3, 2), QTime(0, 0, 1));
    const QDateTime yesterday(QDate(2026, 3, 1), QTime(23, 59, 59));

    StatusTexts::Value v = StatusTexts::lastSync(now, earlierToday.toMSecsSinceEpoch());
    QCOMPARE(v.value, QStringLiteral("00:00:01"));
    v = StatusTexts::lastSync(now, yesterday.toMSecsSinceEpoch());
    QCOMPARE(v.value, QStringLiteral("1 Mar 2026"));
    QCOMPARE(v.unit, QString());
    v = StatusTexts::lastSync(now, 0);
    QCOMPARE(v.value, QStringLiteral("never"));
}

void StatusTextsTest::statusLinePerState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("mainKind");
    QTest::addColumn<int>("detailKind");
    QTest::addColumn<QString>("subLine");

    QTest::newRow("none, no host") << 0 << QString() << "No server" << int(InstChip::Bad)
                                   << int(InstChip::Sec) << "this computer has never synced";
    QTest::newRow("none, host") << 0 << "10.0.0.5" << "No server - Atlas does not answer"
                                << int(InstChip::Bad) << int(InstChip::Sec)
                                << "this computer has never synced";
    QTest::newRow("sync") << 1 << "10.0.0.5" << "In sync - Atlas" << int(InstChip::Go)
                          << int(InstChip::Info) << "this computer's clock";
    QTest::newRow("lost") << 2 << "10.0.0.5" << "Server not heard - Last synced 2 min ago"
                          << int(InstChip::Warn) << int(InstChip::Sec) << "running on its own since ";
    QTest::newRow("off") << 3 << "10.0.0.5" << "Clock is off - 12 s behind Atlas"
                         << int(InstChip::Warn) << int(InstChip::Sec) << "this computer's clock";
    QTest::newRow("wrong") << 4 << "10.0.0.5" << "Clock wrong - Earlier than its last sync"
                           << int(InstChip::Bad) << int(InstChip::Sec) << "this computer's clock";
    QTest::newRow("unknown value reads as none")
        << 9 << QString() << "No server" << int(InstChip::Bad) << int(InstChip::Sec)
        << "this computer has never synced";
}

void StatusTextsTest::statusLinePerState()
{
    QFETCH(int, state);
    QFETCH(QString, host);
    QFETCH(QString, text);
    QFETCH(int, mainKind);
    QFETCH(int, detailKind);
    QFETCH(QString, subLine);

    ClockReading r = heard(12000);
    r.lastSyncUtcMs = r.nowMs - 150000;
    const StatusTexts::Line line = StatusTexts::statusLine(static_cast<ClockState>(state), r, host,
                                                           QStringLiteral("Atlas"));
    QCOMPARE(line.text, text);
    QCOMPARE(int(line.mainKind), mainKind);
    QCOMPARE(int(line.detailKind), detailKind);
    QVERIFY2(line.subLine.startsWith(subLine), qPrintable(line.subLine));
    if (state == 2) {
        const QString since = QDateTime::fromMSecsSinceEpoch(r.lastSyncUtcMs).toString(QStringLiteral("HH:mm:ss"));
        QCOMPARE(line.subLine, QStringLiteral("running on its own since ") + since);
    }
}

void StatusTextsTest::offWordsFollowTheSign()
{
    QCOMPARE(StatusTexts::statusLine(ClockState::Off, heard(-600), QStringLiteral("h"), QStringLiteral("h")).text,
             QStringLiteral("Clock is off - 0 s ahead of h"));
    QCOMPARE(StatusTexts::statusLine(ClockState::Off, heard(0), QStringLiteral("h"), QStringLiteral("h")).text,
             QStringLiteral("Clock is off - 0 s ahead of h"));
    QCOMPARE(StatusTexts::statusLine(ClockState::Off, heard(95000), QStringLiteral("h"), QStringLiteral("h")).text,
             QStringLiteral("Clock is off - 1 min behind h"));
}

void StatusTextsTest::dateLine()
{
    const QDateTime now(QDate(2026, 3, 2), QTime(10, 0, 0));
    QCOMPARE(StatusTexts::dateLine(now, QStringLiteral("this computer's clock")),
             QStringLiteral("Monday, March 2, 2026  \u00b7  this computer's clock"));
}

static DiscoveredServer server(bool synced, bool accepting, bool answered, bool here = false,
                               bool steady = false, const QString& address = QStringLiteral("10.0.0.5"))
{
    DiscoveredServer s;
    s.id = address;
    s.name = QStringLiteral("Atlas");
    s.address = address;
    s.synced = synced;
    s.accepting = accepting;
    s.answered = answered;
    s.onThisComputer = here;
    s.steady = steady;
    return s;
}

void StatusTextsTest::ratingWords_data()
{
    QTest::addColumn<DiscoveredServer>("s");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("kind");

    QTest::newRow("ready") << server(true, true, true) << QString() << "READY" << int(InstChip::Go);
    QTest::newRow("not accepting") << server(true, false, true) << QString() << "NOT ACCEPTING" << int(InstChip::Sec);
    QTest::newRow("not synced") << server(false, true, true) << QString() << "NOT SYNCED YET" << int(InstChip::Sec);
    QTest::newRow("neither: accepting first") << server(false, false, true) << QString() << "NOT ACCEPTING"
                                              << int(InstChip::Sec);
    QTest::newRow("not answering") << server(true, true, false) << QString() << "NOT ANSWERING" << int(InstChip::Sec);
    QTest::newRow("this computer") << server(true, true, true, true) << QString() << "THIS COMPUTER"
                                   << int(InstChip::Sec);
    QTest::newRow("this computer, steady") << server(true, true, true, true, true) << QString() << "READY"
                                           << int(InstChip::Go);
    QTest::newRow("in use") << server(true, true, true) << "10.0.0.5" << "IN USE" << int(InstChip::Info);
    QTest::newRow("in use beats this computer") << server(true, true, true, true) << "10.0.0.5" << "IN USE"
                                                << int(InstChip::Info);
    QTest::newRow("other set up") << server(true, true, true) << "10.0.0.6" << "READY" << int(InstChip::Go);
}

void StatusTextsTest::ratingWords()
{
    QFETCH(DiscoveredServer, s);
    QFETCH(QString, current);
    QFETCH(QString, word);
    QFETCH(int, kind);
    const ServerRating::Status status = ServerRating::status(s, current);
    QCOMPARE(status.word, word);
    QCOMPARE(int(status.kind), kind);
}

void StatusTextsTest::eligibility()
{
    QVERIFY(ServerRating::eligible(server(true, true, false), QString()));
    QVERIFY(!ServerRating::eligible(server(true, true, true), QStringLiteral("10.0.0.5")));
    QVERIFY(!ServerRating::eligible(server(true, true, true, true), QString()));
    QVERIFY(ServerRating::eligible(server(true, true, true, true, true), QString()));
    QVERIFY(!ServerRating::eligible(server(false, true, true), QString()));
    QVERIFY(!ServerRating::eligible(server(true, false, true), QString()));
    // An empty address never counts as the one in use.
    QVERIFY(!ServerRating::inUse(server(true, true, true, false, false, QString()), QString()));
}

void StatusTextsTest::typedAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("canonical");

    QTest::newRow("plain") << "10.0.0.5" << int(AddressCheck::Usable) << "10.0.0.5";
    QTest::newRow("loopback") << "127.0.0.1" << int(AddressCheck::Usable) << "127.0.0.1";
    QTest::newRow("host name") << "timeserver.lan" << int(AddressCheck::NotIpv4) << "";
    QTest::newRow("inner space") << "10.0. 0.5" << int(AddressCheck::NotIpv4) << "";
    QTest::newRow("out of range") << "256.1.1.1" << int(AddressCheck::NotIpv4) << "";
    QTest::newRow("leading zero") << "010.0.0.5" << int(AddressCheck::NotIpv4) << "";
    QTest::newRow("octal part") << "192.168.001.010" << int(AddressCheck::NotIpv4) << "";
    QTest::newRow("three parts") << "1.2.3" << int(AddressCheck::NotIpv4) << "";
    QTest::newRow("one number") << "167772165" << int(AddressCheck::NotIpv4) << "";
    QTest::newRow("ipv6") << "fe80::1" << int(AddressCheck::NotIpv4) << "";
    QTest::newRow("mapped ipv6") << "::ffff:10.0.0.5" << int(AddressCheck::NotIpv4) << "";
    QTest::newRow("trailing dot") << "10.0.0.5." << int(AddressCheck::NotIpv4) << "";
    QTest::newRow("unspecified") << "0.0.0.0" << int(AddressCheck::NotOneHost) << "0.0.0.0";
    QTest::newRow("broadcast") << "255.255.255.255" << int(AddressCheck::NotOneHost) << "255.255.255.255";
    QTest::newRow("multicast") << "224.0.1.1" << int(AddressCheck::NotOneHost) << "224.0.1.1";
}

void StatusTextsTest::typedAddresses()
{
    QFETCH(QString, text);
    QFETCH(int, verdict);
    QFETCH(QString, canonical);
    QString out;
    QCOMPARE(int(AddressCheck::check(text, &out)), verdict);
    if (verdict != AddressCheck::NotIpv4)
        QCOMPARE(out, canonical);
}

void StatusTextsTest::loopbackIsThisComputer()
{
    QVERIFY(AddressCheck::isThisComputer(QHostAddress(QStringLiteral("127.0.0.1"))));
    QVERIFY(AddressCheck::isThisComputer(QHostAddress(QStringLiteral("127.0.0.9"))));
    QVERIFY(!AddressCheck::isThisComputer(QHostAddress()));
    QVERIFY(!AddressCheck::isThisComputer(QHostAddress(QStringLiteral("192.0.2.77"))));
}

QTEST_GUILESS_MAIN(StatusTextsTest)
#include "tst_statustexts.moc"
