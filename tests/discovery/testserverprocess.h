#pragma once

// Starts pellum-test-server as a child process (optionally inside a network
// namespace) and waits for its "ready" line.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUdpSocket>

#include <memory>

class TestServerProcess {
public:
    static QString program()
    {
        return QStringLiteral(PELLUM_BINARY_DIR "/tools/testserver/pellum-test-server");
    }

    // `ns` empty: this namespace.
    bool start(const QStringList& args, const QString& ns = {})
    {
        process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::SeparateChannels);
        if (ns.isEmpty())
            process->start(program(), args);
        else
            process->start(QStringLiteral("ip"), QStringList{"netns", "exec", ns, program()} + args);
        if (!process->waitForStarted(10000))
            return false;
        QElapsedTimer timer;
        timer.start();
        QByteArray out;
        while (timer.elapsed() < 20000) {
            if (process->state() != QProcess::Running)
                return false;
            process->waitForReadyRead(200);
            out += process->readAllStandardOutput();
            if (out.contains("ready\n"))
                return true;
        }
        return false;
    }

    QByteArray errors() const { return process ? process->readAllStandardError() : QByteArray(); }

    void stop()
    {
        if (!process)
            return;
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        process.reset();
    }

    ~TestServerProcess() { stop(); }

private:
    std::unique_ptr<QProcess> process;
};

// A UDP port that is free on `address` right now.
inline quint16 freeUdpPort(const QHostAddress& address = QHostAddress::LocalHost)
{
    QUdpSocket socket;
    if (!socket.bind(address, 0))
        return 0;
    return socket.localPort();
}
