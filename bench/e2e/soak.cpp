// Ten minutes and more of the program watching a server that misbehaves on
// a schedule: offset, silence, gone and back, this computer's clock stepped
// back, floods of malformed datagrams at the program's own ports. Observed
// through the server's report log; bounded, and stops by itself.

#include "e2eharness.h"
#include "e2emain.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTest>
#include <QUdpSocket>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <functional>

using namespace E2E;

namespace {

// Resident set figures of a process, in KiB (0 when unknown).
qint64 statusField(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// Local UDP ports (IPv4) of the sockets that process `pid` holds.
QList<quint16> udpPortsOf(qint64 pid)
{
    QSet<QString> inodes;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    static const QRegularExpression socketRe(QStringLiteral("socket:\\[(\\d+)\\]"));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        const auto m = socketRe.match(QFile::symLinkTarget(fd.filePath()));
        if (m.hasMatch())
            inodes.insert(m.captured(1));
    }
    QList<quint16> ports;
    QFile udp(QStringLiteral("/proc/%1/net/udp").arg(pid));
    if (!udp.open(QIODevice::ReadOnly))
        return ports;
    const QList<QByteArray> lines = udp.readAll().split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cols = lines.at(i).simplified().split(' ');
        if (cols.size() < 10 || !inodes.contains(QString::fromLatin1(cols.at(9))))
            continue;
        const QByteArray local = cols.at(1); // hex address:port
        bool ok = false;
        const uint port = local.mid(local.indexOf(':') + 1).toUInt(&ok, 16);
        if (ok && port > 0 && !ports.contains(quint16(port)))
            ports << quint16(port);
    }
    return ports;
}


constexpr int kFloodBursts = 3;
constexpr int kFloodPerPort = 1500;
constexpr qint64 kRssGrowthBoundKiB = 12 * 1024;

struct Phase {
    int atS;                       // start, seconds after the program started
    const char* what;
    std::function<void()> action;
    QStringList mustSee;           // states that must be reported during the phase
    QStringList onlyAllowed;       // when set, no other state may be reported
    bool silent = false;           // the server is gone: nothing may be logged
};

// UDP counters of this network namespace (the client's).
QPair<qint64, qint64> udpCounters()
{
    QFile snmp(QStringLiteral("/proc/net/snmp"));
    if (!snmp.open(QIODevice::ReadOnly))
        return {0, 0};
    QList<QByteArray> header, values;
    for (const QByteArray& line : snmp.readAll().split('\n')) {
        if (!line.startsWith("Udp:"))
            continue;
        (header.isEmpty() ? header : values) = line.simplified().split(' ');
    }
    const qint64 in = values.value(header.indexOf("InDatagrams")).toLongLong();
    const qint64 bufErrors = values.value(header.indexOf("RcvbufErrors")).toLongLong();
    return {in, bufErrors};
}

QByteArray junkDatagram(QRandomGenerator& random, int kind)
{
    QByteArray d;
    switch (kind % 4) {
    case 0: // anything at all, empty included
        d.resize(int(random.bounded(0, 700)));
        break;
    case 1: // SNTP-sized, mode 4, answering nothing that was asked
        d.resize(48);
        break;
    case 2: // starts like the program's own frame
        d = QByteArray("TAVR") + QByteArray(int(random.bounded(0, 60)), '\0');
        break;
    default: // an oversized one
        d.resize(2000);
        break;
    }
    for (int i = (kind % 4 == 2) ? 4 : 0; i < d.size(); ++i)
        d[i] = char(random.bounded(256));
    if (kind % 4 == 1)
        d[0] = char(0x24); // version 4, mode 4
    if (kind % 4 == 2 && d.size() > 4)
        d[4] = char(random.bounded(1, 8));
    return d;
}

} // namespace

class TstE2eSoak : public QObject {
    Q_OBJECT
public:
    explicit TstE2eSoak(const NetLan::Lan& lan)
        : lan(lan)
    {
    }

private slots:
    void tenMinutesOfMisbehaviour();

private:
    NetLan::Lan lan;
};

void TstE2eSoak::tenMinutesOfMisbehaviour()
{
    QVERIFY(QFile::exists(programPath()));
    const double scale = qEnvironmentVariableIsSet("PELLUM_SOAK_SCALE")
                             ? qBound(0.2, qEnvironmentVariable("PELLUM_SOAK_SCALE").toDouble(), 1.0)
                             : 1.0;
    Sandbox sandbox;
    sandbox.writeSetupRecord(lan.serverAddr.value(0));
    sandbox.writeSettings({{"menuBar/watch", true}});
    const QStringList serverArgs;
    TestServer server(lan.serverNs.value(0), lan.serverAddr.value(0));
    QVERIFY(server.start(serverArgs));

    auto stepClock = [&](const char* offset) { sandbox.setFakeTime(offset); };
    Program program(sandbox.installProgram(), sandbox.environment({}, true), sandbox.path("program.log"));

    QRandomGenerator random(20261207);
    QUdpSocket flooder;
    qint64 flooded = 0;
    auto flood = [&] {
        const QList<quint16> ports = udpPortsOf(program.pid());
        QVERIFY2(!ports.isEmpty(), "the program holds no UDP socket");
        for (quint16 port : ports) {
            for (int i = 0; i < kFloodPerPort; ++i) {
                flooder.writeDatagram(junkDatagram(random, i), QHostAddress::LocalHost, port);
                ++flooded;
                if (i % 100 == 99)
                    QTest::qWait(5);
            }
        }
    };
    auto control = [&](const QString& options) { return [&server, options] { server.control(options); }; };

    const auto s = [scale](int seconds) { return int(seconds * scale); };
    const QList<Phase> phases = {
        {0, "normal", [] {}, {"sync"}, {}},
        {s(60), "server 3 s ahead", control("--offset-ms 3000"), {"off"}, {}},
        {s(120), "server silent", control("--sntp silent"), {"lost"}, {}},
        {s(180), "server normal", control(QString()), {"sync"}, {}},
        {s(240), "server gone", [&] { server.stop(); }, {}, {}, true},
        {s(300), "server back", [&] { QVERIFY(server.start(serverArgs)); }, {"sync"}, {}},
        {s(360), "clock stepped back 5 s", [&] { stepClock("-5"); }, {"wrong"}, {}},
        {s(375), "server follows the clock", control("--offset-ms -5000"), {"sync"}, {}},
        {s(420), "malformed floods", [&] { flood(); }, {}, {"sync"}},
        {s(440), "malformed floods", [&] { flood(); }, {}, {"sync"}},
        {s(460), "malformed floods", [&] { flood(); }, {}, {"sync"}},
        {s(480), "clock and server back to true time", [&] { stepClock("+0"); server.control(QString()); },
         {"sync"}, {}},
    };
    const int endS = s(620);

    const auto counters0 = udpCounters();
    QVERIFY(program.start({QStringLiteral("--login")}));
    QElapsedTimer clock;
    clock.start();
    const qint64 startMs = QDateTime::currentMSecsSinceEpoch();
    qint64 baselineRss = 0;
    qint64 maxRss = 0;
    int next = 0;
    while (clock.elapsed() < qint64(endS) * 1000) {
        QVERIFY2(program.isRunning(), qPrintable(program.log()));
        if (next < phases.size() && clock.elapsed() >= qint64(phases.at(next).atS) * 1000) {
            qInfo("%4llds  %s", clock.elapsed() / 1000, phases.at(next).what);
            phases.at(next).action();
            ++next;
        }
        const qint64 rss = statusField(program.pid(), "VmRSS");
        maxRss = qMax(maxRss, rss);
        if (baselineRss == 0 && clock.elapsed() > s(90) * 1000)
            baselineRss = rss;
        QTest::qWait(250);
    }
    const qint64 endMs = QDateTime::currentMSecsSinceEpoch();
    QVERIFY2(program.isRunning(), qPrintable(program.log()));
    const qint64 finalRss = statusField(program.pid(), "VmRSS");
    const qint64 peakRss = statusField(program.pid(), "VmHWM");
    const auto counters1 = udpCounters();

    // What the server heard, phase by phase (by its own receive clock; the
    // program's clock is faked part of the time).
    QList<QPair<qint64, QString>> states; // distinct reports in arrival order
    {
        QSet<QString> seen;
        for (const QJsonObject& entry : server.reportLines()) {
            const QJsonObject r = entry.value("report").toObject();
            const QString key = QString::number(r.value("t").toDouble(), 'f', 0) + (r.value("bye").toBool() ? QStringLiteral("bye") : QString());
            if (seen.contains(key))
                continue;
            seen.insert(key);
            states << qMakePair(qint64(entry.value("rx_ms").toDouble()), r.value("state").toString());
        }
    }
    int changes = 0;
    for (int i = 1; i < states.size(); ++i)
        changes += states.at(i).second != states.at(i - 1).second ? 1 : 0;
    QString failures;
    for (int i = 0; i < phases.size(); ++i) {
        const Phase& p = phases.at(i);
        const qint64 from = startMs + qint64(p.atS) * 1000;
        const qint64 to = i + 1 < phases.size() ? startMs + qint64(phases.at(i + 1).atS) * 1000 : endMs;
        QStringList seenHere;
        for (const auto& st : states) {
            if (st.first >= from && st.first < to)
                seenHere << st.second;
        }
        qInfo("phase %-36s reported: %s", p.what, qPrintable(seenHere.join(QLatin1Char(' '))));
        for (const QString& want : p.mustSee) {
            if (!seenHere.contains(want))
                failures += QStringLiteral("%1: no \"%2\" reported; ").arg(QLatin1String(p.what), want);
        }
        // A report already under way when the phase began may still name the old state.
        const QStringList settled = seenHere.mid(1);
        for (const QString& got : settled) {
            if (!p.onlyAllowed.isEmpty() && !p.onlyAllowed.contains(got))
                failures += QStringLiteral("%1: unexpected \"%2\"; ").arg(QLatin1String(p.what), got);
        }
        if (p.silent && seenHere.size() > 1)
            failures += QStringLiteral("%1: reports logged while the server was gone; ").arg(QLatin1String(p.what));
    }
    const QString finalState = states.isEmpty() ? QString() : states.last().second;

    const qint64 stored = sandbox.setting("clock/lastSyncUtcMs").toLongLong();
    int sntpRequests = 0;
    {
        QFile f(server.path("sntp"));
        if (f.open(QIODevice::ReadOnly))
            sntpRequests = f.readAll().count('\n');
    }
    qInfo("soak: %llds, %lld malformed datagrams sent to the program's ports, %d SNTP requests answered or "
          "not, %lld UDP datagrams delivered in the client namespace (%lld dropped for a full buffer), "
          "%lld distinct reports, %d state changes seen, RSS %lld KiB after warm-up, %lld KiB at the end, "
          "peak %lld KiB",
          clock.elapsed() / 1000, flooded, sntpRequests, counters1.first - counters0.first,
          counters1.second - counters0.second, qint64(states.size()), changes, baselineRss, finalRss, peakRss);

    QVERIFY2(failures.isEmpty(), qPrintable(failures));
    QCOMPARE(finalState, QStringLiteral("sync"));
    QVERIFY2(finalRss - baselineRss <= kRssGrowthBoundKiB,
             qPrintable(QStringLiteral("RSS grew by %1 KiB").arg(finalRss - baselineRss)));
    QVERIFY(sandbox.settingsLoad());
    QVERIFY2(stored > endMs - 35000 && stored <= endMs + 1000,
             qPrintable(QStringLiteral("stored last sync %1, end %2").arg(stored).arg(endMs)));

    program.terminate();
    QCOMPARE(program.waitForExit(20000), 0);
    const qint64 exitedAt = QDateTime::currentMSecsSinceEpoch();
    const qint64 storedAtExit = sandbox.setting("clock/lastSyncUtcMs").toLongLong();
    QVERIFY2(storedAtExit > exitedAt - 5000, "last sync not stored on the way out");
}

PELLUM_E2E_MAIN(TstE2eSoak, QCoreApplication)

#include "soak.moc"
