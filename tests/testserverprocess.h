#pragma once

// pellum-test-server as a child process (here, or inside network namespace
// `ns`), with its control file and logs in a private folder.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QUdpSocket>

class TestServerProcess {
public:
    ~TestServerProcess() { stop(); }

    // True once the server printed "ready".
    bool start(const QStringList& args, const QString& ns = {})
    {
        const QString binary = QStringLiteral(PELLUM_BINARY_DIR "/tools/testserver/pellum-test-server");
        const QStringList full = args + QStringList{"--control", path("control"), "--report-log", path("reports"),
                                                    "--query-log", path("queries"), "--sntp-log", path("sntp")};
        if (ns.isEmpty())
            m_process.start(binary, full);
        else
            m_process.start("ip", QStringList{"netns", "exec", ns, binary} + full);
        while (m_process.waitForReadyRead(15000) || m_process.canReadLine()) {
            if (m_process.readLine().startsWith("ready"))
                return true;
        }
        qWarning() << "test server did not start:" << m_process.readAllStandardError();
        return false;
    }

    void stop()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill(), m_process.waitForFinished(5000);
    }

    // Rewrites the control file (always a change); true once the server applied it.
    bool control(const QString& text)
    {
        QSaveFile file(path("control"));
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8() + "\n# " + QByteArray::number(++m_writes)) < 0 || !file.commit())
            return false;
        QByteArray said;
        for (int i = 0; i < 100 && !said.contains("control file"); ++i) {
            m_process.waitForReadyRead(100);   // the answer comes on the error channel
            said += m_process.readAllStandardError();
        }
        return said.contains("control file applied");
    }

    QList<QJsonObject> log(const char* name) const
    {
        QList<QJsonObject> lines;
        QFile file(path(name));
        for (const QByteArray& line : file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList())
            if (!line.isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        return lines;
    }
    QList<QJsonObject> reportLines() const { return log("reports"); } // from, to, rx_ms, report
    int sntpRequests() const { return int(log("sntp").size()); }
    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    qint64 pid() const { return m_process.processId(); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_writes = 0;
};

// A UDP port free on `address` a moment ago.
inline quint16 freeUdpPort(const QHostAddress& address = QHostAddress::LocalHost)
{
    QUdpSocket socket;
    return socket.bind(address, 0) ? socket.localPort() : 0;
}
