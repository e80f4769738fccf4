#pragma once

#include "discoveredserver.h"
#include "heardservers.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;
class QUdpSocket;

// Finds the time servers on the LAN: broadcasts a query three times, listens
// for the window handed to start(), probes every address heard with SNTP for
// 400 ms and emits one sorted list per run.
class DiscoveryClient : public QObject {
    Q_OBJECT

public:
    explicit DiscoveryClient(QObject* parent = nullptr);

    void start(int listenMs);
    bool isRunning() const;

    // Test seam: where the query and the probes go, and how long probe
    // replies are awaited. By default the query is broadcast to port 12300,
    // probes go to port 123 and the probe phase lasts 400 ms.
    struct Targets {
        quint16 queryPort = 12300;
        quint16 sntpPort = 123;
        QList<QHostAddress> queryAddresses;   // empty: the broadcasts
        int probePhaseMs = 400;
    };
    void setTargetsForTesting(const Targets& targets);

signals:
    void finished(QList<DiscoveredServer> servers);

private slots:
    void onReadyRead();
    void onHeardAll();
    void onProbeReadyRead();
    void onDone();

private:
    void sendQuery();
    void runProbePhase();

    QUdpSocket* querySocket = nullptr;
    QUdpSocket* probeSocket = nullptr;
    QTimer* listenTimer = nullptr;
    QString nonce;
    bool running = false;
    HeardServerMap heardServers;
    qint64 probeSentAtMs = 0;
    QStringList answeredAddresses;
    QStringList probedAddresses;   // only these can count as answered

    quint64 runNumber = 0;   // ties delayed resends to the run that scheduled them
    Targets targets;
};
