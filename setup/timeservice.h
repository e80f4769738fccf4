#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// What the operating system's own time service says about itself, as far as a
// user may read it without elevation. Everything unknown stays empty or 0:
// where nothing can be read, nothing is claimed.
struct TimeServiceStatus {
    bool readable = false;        // the service has been read at least once
    bool running = false;         // it answered the last time it was asked
    QString server;               // the source as the service names it
    QString address;              // the address it talks to, when it says so
    qint64 lastSyncUtcMs = 0;     // its last exchange with that source
    qint64 pollIntervalMs = 0;    // how often it asks
    qint64 sourceSeenUtcMs = 0;   // when it last said which source it uses
    qint64 unsyncedSinceUtcMs = 0; // it says it has not synced since then
};

// The status in the Windows Time service's System-log events, each given as
// the XML the event log renders: the newest event naming its source (35, 37)
// and, when newer still, the one saying it has not synced (36). Anything
// foreign or malformed is skipped.
TimeServiceStatus statusFromTimeServiceEvents(const QStringList& eventXml);

// Reads the status on request, without blocking where the platform allows,
// and keeps what it last read while the service is gone.
class TimeServiceReader : public QObject {
    Q_OBJECT
public:
    explicit TimeServiceReader(QObject* parent = nullptr);

    const TimeServiceStatus& status() const { return m_status; }
    // Asks the service again; updated() follows once the answer is in.
    void refresh();

signals:
    void updated();

private:
    void take(const TimeServiceStatus& fresh);

    TimeServiceStatus m_status;
    bool m_asking = false;
};
