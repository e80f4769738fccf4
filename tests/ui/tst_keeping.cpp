// When the window says the operating system keeps the clock, and when it
// warns, from the time service's own status; the Windows status from the
// Time service's System-log events as the event log renders them.

#include "keepingtexts.h"

#include <QtTest>

namespace {

constexpr qint64 kNow = 1796000000000;
constexpr qint64 kMin = 60000;

KeepingTexts::Inputs kept()
{
    KeepingTexts::Inputs in;
    in.setUpServer = QStringLiteral("192.0.2.10");
    in.label = QStringLiteral("Atlas");
    in.service.readable = in.service.running = true;
    in.service.server = in.service.address = QStringLiteral("192.0.2.10");
    in.service.lastSyncUtcMs = kNow - 4 * kMin;
    in.service.pollIntervalMs = 30 * kMin;
    in.held = {true, 3200, ClockKeeping::kHourMs};
    in.nowMs = kNow;
    in.watchedSinceMs = kNow - 5 * 60 * kMin;
    return in;
}

// An event as the event log renders it, `data` as its first Data element.
QString logged(int id, const char* at, const QString& data, const char* provider = "Microsoft-Windows-Time-Service")
{
    return QStringLiteral("<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>"
                          "<Provider Name='%1' Guid='{06EDCFEB-0FD0-4E53-ACCA-A6F8BBF81BCB}'/><EventID>%2</EventID>"
                          "<Level>4</Level><TimeCreated SystemTime='%3'/><Channel>System</Channel></System>"
                          "<EventData><Data Name='TimeSource'>%4</Data></EventData></Event>")
        .arg(QLatin1String(provider)).arg(id).arg(QLatin1String(at), data.toHtmlEscaped());
}

} // namespace

class TestKeeping : public QObject {
    Q_OBJECT
private slots:
    // Fault: a well-kept clock gets a warning, or the section claims nothing it knows.
    void keptClockSaysSoWithoutWarning()
    {
        const KeepingTexts::Keeping k = KeepingTexts::keeping(kept());
        QCOMPARE(k.held, QStringLiteral("Held within \u00b13 ms of Atlas over the last hour"));
        QCOMPARE(k.service, QStringLiteral("The time service last synced with 192.0.2.10 4 min ago"));
        QVERIFY(k.warning.isEmpty() && k.problem.isEmpty());
        // Not set up: nothing is claimed at all.
        KeepingTexts::Inputs none = kept();
        none.setUpServer.clear();
        const KeepingTexts::Keeping n = KeepingTexts::keeping(none);
        QVERIFY(n.held.isEmpty() && n.service.isEmpty() && n.warning.isEmpty());
        // Nothing readable: no word about the service.
        KeepingTexts::Inputs unread = kept();
        unread.service = {};
        QVERIFY(KeepingTexts::keeping(unread).service.isEmpty());
    }

    // Fault: a service that stopped syncing is blamed early (restart, sleep) or never.
    void noSyncWarnsAfterTwoPollIntervals()
    {
        KeepingTexts::Inputs in = kept();
        in.service.lastSyncUtcMs = kNow - 60 * kMin;
        QVERIFY(KeepingTexts::keeping(in).warning.isEmpty());
        in.service.lastSyncUtcMs = kNow - 61 * kMin;
        QCOMPARE(KeepingTexts::keeping(in).problem, QStringLiteral("No sync for 61 min"));
        // Just started, or just woke: the service gets its two intervals from then.
        in.watchedSinceMs = kNow - 59 * kMin;
        QVERIFY(KeepingTexts::keeping(in).warning.isEmpty());
        // Stopped: what it said before still counts, and the warning says it stopped.
        in.watchedSinceMs = kNow - 5 * 60 * kMin;
        in.service.running = false;
        QVERIFY(KeepingTexts::keeping(in).warning.startsWith(QStringLiteral("The time service is not running")));
        QVERIFY(KeepingTexts::keeping(in).service.startsWith(QStringLiteral("The time service is not running; it last synced")));
    }

    // Fault: a service following another source goes unnamed.
    void otherSourceIsNamed()
    {
        KeepingTexts::Inputs in = kept();
        in.service.server = QStringLiteral("ntp.example.org");
        in.service.address = QStringLiteral("198.51.100.7");
        const KeepingTexts::Keeping k = KeepingTexts::keeping(in);
        QCOMPARE(k.problem, QStringLiteral("Follows ntp.example.org"));
        QVERIFY(k.warning.contains(QStringLiteral("from ntp.example.org, not Atlas")));
        // Named by host name while it talks to the set-up address: the same source.
        in.service.address = in.setUpServer;
        QVERIFY(KeepingTexts::keeping(in).warning.isEmpty());
    }

    // Fault: drift the record shows is not told, with what to do.
    void driftIsTold()
    {
        KeepingTexts::Inputs in = kept();
        in.driftUs = -144000;
        QCOMPARE(KeepingTexts::keeping(in).problem, QStringLiteral("Drifted 144 ms in an hour"));
        QVERIFY(KeepingTexts::keeping(in).warning.contains(QStringLiteral("Click Sync now")));
    }

    // Fault: the Windows events are misread: the wrong source, an old event
    // outranking a newer one, a foreign or broken event taken for one.
    void windowsEvents()
    {
        const QString lab = QStringLiteral("192.0.2.10,0x8 (ntp.m|0x8|0.0.0.0:123->192.0.2.10:123)");
        const QString pool = QStringLiteral("time.example.net,0x9 (ntp.m|0x9|[::]:123->[2001:db8::7]:123)");
        TimeServiceStatus s = statusFromTimeServiceEvents({logged(35, "2026-12-08T09:14:02.5531297Z", pool),
                                                           logged(37, "2026-12-09T04:00:00.0000001Z", lab)});
        QVERIFY(s.readable && s.running);
        QCOMPARE(s.server, QStringLiteral("192.0.2.10"));
        QCOMPARE(s.address, QStringLiteral("192.0.2.10"));
        QCOMPARE(s.sourceSeenUtcMs, QDateTime(QDate(2026, 12, 9), QTime(4, 0), Qt::UTC).toMSecsSinceEpoch());
        QCOMPARE(s.lastSyncUtcMs, qint64(0));   // the log says which source, never when it last synced

        s = statusFromTimeServiceEvents({logged(37, "2026-12-09T04:00:00Z", pool)});
        QCOMPARE(s.server, QStringLiteral("time.example.net"));
        QCOMPARE(s.address, QStringLiteral("2001:db8::7"));
        QCOMPARE(statusFromTimeServiceEvents({logged(35, "2026-12-09T04:00:00Z", QStringLiteral("Local CMOS Clock"))}).server,
                 QStringLiteral("Local CMOS Clock"));

        // Newer than the source event, "not synced for 7200 s" counts from 7200 s before it.
        s = statusFromTimeServiceEvents({logged(37, "2026-12-09T01:00:00Z", lab), logged(36, "2026-12-09T04:00:00Z", QStringLiteral("7200"))});
        QCOMPARE(s.unsyncedSinceUtcMs, QDateTime(QDate(2026, 12, 9), QTime(2, 0), Qt::UTC).toMSecsSinceEpoch());
        s = statusFromTimeServiceEvents({logged(37, "2026-12-09T05:00:00Z", lab), logged(36, "2026-12-09T04:00:00Z", QStringLiteral("7200"))});
        QCOMPARE(s.unsyncedSinceUtcMs, qint64(0));

        QVERIFY(!statusFromTimeServiceEvents({logged(37, "2026-12-09T04:00:00Z", lab, "Some-Other-Provider"),
                                              logged(37, "not a time", lab), logged(37, "2026-12-09T04:00:00Z", QString()),
                                              QStringLiteral("<Event><System><EventID>37"), QString()}).readable);
        // An old source event does not make the service "follow" it: it may predate the set-up.
        KeepingTexts::Inputs in = kept();
        in.service = statusFromTimeServiceEvents({logged(37, "2026-12-01T04:00:00Z", pool)});
        in.nowMs = QDateTime(QDate(2026, 12, 9), QTime(5, 0), Qt::UTC).toMSecsSinceEpoch();
        in.watchedSinceMs = in.nowMs - 60 * kMin;
        QVERIFY(KeepingTexts::keeping(in).warning.isEmpty());
        QVERIFY(KeepingTexts::keeping(in).service.startsWith(QStringLiteral("The time service named time.example.net as its source")));
    }
};

QTEST_GUILESS_MAIN(TestKeeping)
#include "tst_keeping.moc"
