#pragma once

#include "jsonlinelog.h"
#include "serveroptions.h"

#include <QList>
#include <QObject>

class QNetworkDatagram;
class QUdpSocket;

// Answers discovery queries and status reports on the TAVR port. Broadcasts
// reach extra sockets bound to the broadcast addresses of the listen
// address, so several servers can share one network namespace; every answer
// leaves from the listen address.
class TavrResponder : public QObject {
    Q_OBJECT
public:
    explicit TavrResponder(QObject* parent = nullptr);
    bool start(const ServerOptions& options, QString* error);
    void setOptions(const ServerOptions& options) { m_options = options; }

private:
    void onReadyRead(QUdpSocket* socket);
    void answerQuery(const QNetworkDatagram& in, const QByteArray& body);
    void answerReport(const QNetworkDatagram& in, const QByteArray& body, const QUdpSocket* via);
    QByteArray discoveryAnswerBody(const QString& nonce) const;
    void send(const QByteArray& datagram, const QNetworkDatagram& in, int delayMs);

    ServerOptions m_options;
    QUdpSocket* m_socket = nullptr;
    QList<QUdpSocket*> m_broadcastSockets;
    JsonLineLog m_reportLog;
    JsonLineLog m_queryLog;
};
