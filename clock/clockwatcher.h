#pragma once

#include "clockstate.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <limits>

class ClockHistory;
class QHostInfo;
class QTimer;
class QUdpSocket;

// Measures the local clock against the chosen server and condenses the result
// into one ClockState; reports that state to the server while asked to.
class ClockWatcher : public QObject {
    Q_OBJECT
public:
    explicit ClockWatcher(QObject* parent = nullptr);
    ~ClockWatcher() override;

    ClockState state() const { return m_state; }
    ClockReading snapshot() const;
    qint64 lastSyncUtcMs() const { return m_lastSyncUtcMs; }
    QString serverHost() const { return m_serverHost; }
    QString serverName() const { return m_serverName; }
    QHostAddress serverAddress() const { return m_serverAddress; }
    bool serverIsLocal() const { return m_serverIsLocal; }
    bool serverSteady() const { return m_serverSteady; }
    bool reporting() const { return m_reporting; }
    QString clientId() const { return m_clientId; }
    QString serverLabel() const;
    qint64 msSinceHeard() const;
    bool isReported() const;
    // The record of replies, misses, state changes and clock jumps.
    ClockHistory* history() const { return m_history; }

    void setServer(const QString& host, const QString& name);
    void setServerSteady(bool steady);
    void resetLastSync();
    void setReporting(bool on);

    // Report body as sent; exposed for tests.
    QByteArray buildReport(bool bye) const;

    static constexpr qint64 kReportAnsweredWindowMs = 90000;
    static constexpr qint64 kSaveIntervalMs = 30000;
    static constexpr int kTickMs = 1000;
    static constexpr int kProbeMs = 10000;
    static constexpr int kReportMs = 30000;
    // Wall and monotonic time may disagree this much before the wall clock
    // counts as set forward or back.
    static constexpr qint64 kJumpToleranceMs = 500;

signals:
    void changed();
    void stateChanged(ClockState state);

public slots:
    void onTick();
    void onProbe();
    void onNtpReadyRead();
    void onBeaconReadyRead();
    void sendBeacon();

protected:
    // Seams for tests. The constructor and destructor always use the real
    // clocks (virtual calls do not reach a subclass there).
    virtual qint64 wallClockNs() const;   // Unix nanoseconds
    virtual qint64 elapsedNs() const;     // any origin, counting sleep
    qint64 wallClockMs() const { return wallClockNs() / 1000000; }
    qint64 monotonicMs() const { return elapsedNs() / 1000000; }
    // Destination ports of the probe and the reports; tests move them off
    // the privileged ports.
    void setDestinationPorts(quint16 sntpPort, quint16 reportPort);

private:
    static constexpr qint64 kNever = std::numeric_limits<qint64>::min();
    bool stampWithin(qint64 stampMs, qint64 windowMs) const;
    void updateState();
    void noticeClockJump();
    // Wall time less monotonic time passed since the last valid reply.
    qint64 driftSinceReply() const;
    bool jumpedSince(qint64 seenDriftMs) const;
    void lookUpServer();
    bool answerFromServer(const QHostAddress& sender) const;
    void saveLastSync(bool force);
    void sendReport(bool bye);
    void onLookedUp(const QString& host, const QHostInfo& info);
    void sendRequest();
    void probeAfterStartUp();
    static bool addressIsLocal(const QHostAddress& address);

    ClockHistory* m_history = nullptr;
    QString m_serverHost;
    QString m_serverName;
    QHostAddress m_serverAddress;
    QString m_clientId;
    QUdpSocket* m_ntpSocket = nullptr;
    QUdpSocket* m_reportSocket = nullptr;
    QTimer* m_tickTimer = nullptr;
    QTimer* m_probeTimer = nullptr;
    QTimer* m_reportTimer = nullptr;
    qint64 m_requestSentNs = 0;        // 0: no request out
    qint64 m_requestSentElapsedNs = 0;
    qint64 m_requestSentAtMs = 0;      // on the record's timeline
    qint64 m_offsetMs = 0;
    // Monotonic stamps standing for the heard, report answer and save
    // timers; kNever while a timer is not started.
    qint64 m_heardAtMs = kNever;
    qint64 m_reportAnsweredAtMs = kNever;
    qint64 m_savedAtMs = kNever;
    // Wall and monotonic time of the last valid reply, and how far they had
    // drifted apart when a jump was last seen.
    qint64 m_replyWallMs = 0;
    qint64 m_replyMonoMs = kNever;
    qint64 m_seenDriftMs = 0;
    bool m_clockJumped = false;   // since the last valid reply
    bool m_receiveStamps = false; // the kernel stamps the SNTP socket's datagrams
    bool m_startingUp = false;    // the first probe waits for an idle event loop
    QMetaObject::Connection m_idleConnection;
    QString m_lookingUp;          // host whose lookup is under way
    quint16 m_sntpPort = 123;
    quint16 m_reportPort = 12300;
    qint64 m_lastSyncUtcMs = 0;
    ClockState m_state = ClockState::None;
    bool m_reporting = false;
    bool m_serverIsLocal = false;
    bool m_serverSteady = false;
};
