#pragma once

#include "jsonlinelog.h"
#include "serveroptions.h"

#include <QObject>

class QUdpSocket;

// Answers SNTP client requests with the system clock shifted by the offset
// option, or misbehaves as told.
class SntpResponder : public QObject {
    Q_OBJECT
public:
    explicit SntpResponder(QObject* parent = nullptr);
    bool start(const ServerOptions& options, QString* error);
    void setOptions(const ServerOptions& options) { m_options = options; }

private:
    void onReadyRead();
    QByteArray buildReply(const QByteArray& request, qint64 receiveNs) const;
    qint64 serverNowNs() const;

    ServerOptions m_options;
    QUdpSocket* m_socket = nullptr;
    bool m_receiveStamps = false;
    JsonLineLog m_log;
};
