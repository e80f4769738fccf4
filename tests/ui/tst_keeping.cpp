// When the window says the operating system keeps the clock, and when it
// warns; the Windows status from the Time service's System-log events, as
// the event log renders them.

#include "keepingtexts.h"

#include <QtTest>

namespace {

constexpr qint64 kNow = 1796000000000, kMin = 60000;
const QString kLab = QStringLiteral("192.0.2.10,0x8 (ntp.m|0x8|0.0.0.0:123->192.0.2.10:123)");
const QString kPool = QStringLiteral("time.example.net,0x9 (ntp.m|0x9|[::]:123->[2001:db8::7]:123)");

// Set up with Atlas; the service synced with it 4 minutes ago and polls every 30.
KeepingTexts::Inputs kept()
{
    const QString lab = QStringLiteral("192.0.2.10");
    return {lab, QStringLiteral("Atlas"), {true, true, lab, lab, kNow - 4 * kMin, 30 * kMin, 0, 0},
            {true, 3200, ClockKeeping::kHourMs}, 0, kNow, kNow - 300 * kMin};
}
QString warning(const KeepingTexts::Inputs& in) { return KeepingTexts::keeping(in).warning; }

QString logged(int id, const char* at, const QString& data, const char* provider = "Microsoft-Windows-Time-Service")
{
    return QStringLiteral("<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='%1'/>"
                          "<EventID>%2</EventID><Level>4</Level><TimeCreated SystemTime='%3'/><Channel>System</Channel></System>"
                          "<EventData><Data Name='TimeSource'>%4</Data></EventData></Event>")
        .arg(QLatin1String(provider)).arg(id).arg(QLatin1String(at), data.toHtmlEscaped());
}
qint64 utc(int day, int hour) { return QDateTime(QDate(2026, 12, day), QTime(hour, 0), Qt::UTC).toMSecsSinceEpoch(); }

} // namespace

class TestKeeping : public QObject {
    Q_OBJECT
private slots:
    // Fault: a kept clock is warned about, a claim is made from nothing, a drifting one goes unwarned, or a service following another source goes unnamed.
    void rules()
    {
        KeepingTexts::Keeping k = KeepingTexts::keeping(kept());
        QCOMPARE(k.held + '|' + k.service + '|' + k.warning, QStringLiteral(
            "Held within \u00b13 ms of Atlas over the last hour|The time service last synced with 192.0.2.10 4 min ago|"));
        KeepingTexts::Inputs in = kept();
        in.setUpServer.clear();   // not set up: nothing claimed
        k = KeepingTexts::keeping(in);
        QVERIFY(k.held.isEmpty() && k.service.isEmpty() && k.warning.isEmpty());
        in = kept();
        in.service = {};          // nothing readable
        QVERIFY(KeepingTexts::keeping(in).service.isEmpty());

        // Two poll intervals without a sync; not counting time before the start or a wake.
        in = kept();
        in.service.lastSyncUtcMs = kNow - 60 * kMin;
        QVERIFY(warning(in).isEmpty());
        in.service.lastSyncUtcMs = kNow - 61 * kMin;
        QCOMPARE(KeepingTexts::keeping(in).problem, QStringLiteral("No sync for 61 min"));
        in.watchedSinceMs = kNow - 59 * kMin;
        QVERIFY(warning(in).isEmpty());

        in = kept();
        in.driftUs = -144000;
        QCOMPARE(KeepingTexts::keeping(in).problem, QStringLiteral("Drifted 144 ms in an hour"));
        QVERIFY(warning(in).contains(QStringLiteral("Click Sync now")));

        // Another source, named by host name; at the set-up's address it is no other.
        in = kept();
        in.service.server = QStringLiteral("ntp.example.org");
        in.service.address = QStringLiteral("198.51.100.7");
        in.service.lastSyncUtcMs = 0;   // and never reached it
        QCOMPARE(KeepingTexts::keeping(in).problem, QStringLiteral("Follows ntp.example.org"));
        QVERIFY(warning(in).contains(QStringLiteral("from ntp.example.org, not Atlas")));
        in.service.address = in.setUpServer;
        QVERIFY(warning(in).isEmpty());
        // An old event naming another source may predate the set-up: no warning from it.
        in.service = statusFromTimeServiceEvents({logged(37, "2026-12-01T04:00:00Z", kPool)});
        in.nowMs = in.watchedSinceMs = utc(9, 5);
        QVERIFY(warning(in).isEmpty());
        QVERIFY(KeepingTexts::keeping(in).service.startsWith(QStringLiteral("The time service named time.example.net as its source")));
    }

    // Fault: the events are misread: the wrong source, an older event outranking a newer, a foreign or broken one taken in.
    void windowsEvents()
    {
        TimeServiceStatus s = statusFromTimeServiceEvents({logged(35, "2026-12-08T09:14:02.5531297Z", kPool),
                                                           logged(37, "2026-12-09T04:00:00.0000001Z", kLab)});
        QVERIFY(s.readable && s.running && s.lastSyncUtcMs == 0);   // which source, never when it last synced
        QCOMPARE(s.server + ' ' + s.address, QStringLiteral("192.0.2.10 192.0.2.10"));
        QCOMPARE(s.sourceSeenUtcMs, utc(9, 4));
        s = statusFromTimeServiceEvents({logged(37, "2026-12-09T04:00:00Z", kPool)});
        QCOMPARE(s.server + ' ' + s.address, QStringLiteral("time.example.net 2001:db8::7"));
        QCOMPARE(statusFromTimeServiceEvents({logged(35, "2026-12-09T04:00:00Z", QStringLiteral("Local CMOS Clock"))}).server,
                 QStringLiteral("Local CMOS Clock"));
        // "Not synced for 7200 s", newer than the source event, counts from 7200 s before it.
        const QString notSynced = logged(36, "2026-12-09T04:00:00Z", QStringLiteral("7200"));
        QCOMPARE(statusFromTimeServiceEvents({logged(37, "2026-12-09T01:00:00Z", kLab), notSynced}).unsyncedSinceUtcMs, utc(9, 2));
        QCOMPARE(statusFromTimeServiceEvents({logged(37, "2026-12-09T05:00:00Z", kLab), notSynced}).unsyncedSinceUtcMs, qint64(0));
        QVERIFY(!statusFromTimeServiceEvents({logged(37, "2026-12-09T04:00:00Z", kLab, "Some-Other-Provider"),
                                              logged(37, "not a time", kLab), logged(37, "2026-12-09T04:00:00Z", QString()),
                                              QStringLiteral("<Event><System><EventID>37"), QString()}).readable);
    }
};

QTEST_GUILESS_MAIN(TestKeeping)
#include "tst_keeping.moc"
