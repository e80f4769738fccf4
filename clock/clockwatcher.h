#pragma once

#include "clockstate.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>

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

    void setServer(const QString& host, const QString& name);
    void setServerSteady(bool steady);
    void resetLastSync();
    void setReporting(bool on);

    // Report body as sent; exposed for tests.
    QByteArray buildReport(bool bye) const;

signals:
    void changed();
    void stateChanged(ClockState state);

public slots:
    void onTick();
    void onProbe();
    void onNtpReadyRead();
    void onBeaconReadyRead();
    void sendBeacon();

private:
    void updateState();
    void saveLastSync(bool force);
    void sendReport(bool bye);
    void onLookedUp(const QString& host, const QHostInfo& info);
    void sendRequest();
    static bool addressIsLocal(const QHostAddress& address);

    QString m_serverHost;
    QString m_serverName;
    QHostAddress m_serverAddress;
    QString m_clientId;
    QUdpSocket* m_ntpSocket = nullptr;
    QUdpSocket* m_reportSocket = nullptr;
    QTimer* m_tickTimer = nullptr;
    QTimer* m_probeTimer = nullptr;
    QTimer* m_reportTimer = nullptr;
    qint64 m_requestSentMs = 0;
    qint64 m_offsetMs = 0;
    QElapsedTimer m_heardTimer;
    QElapsedTimer m_reportAnswerTimer;
    QElapsedTimer m_saveTimer;
    qint64 m_lastSyncUtcMs = 0;
    ClockState m_state = ClockState::None;
    bool m_reporting = false;
    bool m_serverIsLocal = false;
    bool m_serverSteady = false;
};
