#pragma once

// Runs pellum-test-server as a child process for one test.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QUdpSocket>

class TestServerProcess {
public:
    static QString binary() { return QStringLiteral(PELLUM_BINARY_DIR "/tools/testserver/pellum-test-server"); }

    // A UDP port on 127.0.0.1 that was free a moment ago.
    static quint16 freeLoopbackPort()
    {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        return probe.localPort();
    }

    ~TestServerProcess() { stop(); }

    // Starts the server (inside network namespace `ns` when given) with a
    // control file and the three logs in a private directory; true once it
    // printed "ready".
    bool start(const QStringList& args, const QString& ns = {})
    {
        QStringList full = args;
        full << "--control" << controlPath() << "--report-log" << reportLogPath() << "--query-log"
             << queryLogPath() << "--sntp-log" << sntpLogPath();
        if (ns.isEmpty()) {
            m_process.start(binary(), full);
        } else {
            m_process.start(QStringLiteral("ip"), QStringList{"netns", "exec", ns, binary()} + full);
        }
        if (!m_process.waitForStarted(10000))
            return false;
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(15000))
                return false;
        }
        return m_process.readLine().trimmed() == "ready";
    }

    // SIGTERM and wait; returns the exit code, -1 when it had to be killed.
    int stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitCode();
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
            return -1;
        }
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    // Replaces the control file atomically and waits until the server says
    // it applied it (or rejected it).
    bool control(const QString& text)
    {
        QSaveFile file(controlPath());
        if (!file.open(QIODevice::WriteOnly))
            return false;
        // A counter keeps every write distinct, so the server always sees
        // a change.
        file.write(text.toUtf8() + "\n# " + QByteArray::number(++m_controlWrites) + "\n");
        if (!file.commit())
            return false;
        for (int i = 0; i < 200; ++i) {
            m_process.waitForReadyRead(100);
            m_stderr += m_process.readAllStandardError();
            if (m_stderr.contains("control file applied") || m_stderr.contains("control file ignored")) {
                const bool applied = m_stderr.contains("control file applied");
                m_stderr.clear();
                return applied;
            }
        }
        return false;
    }

    static QList<QJsonObject> readLog(const QString& path)
    {
        QList<QJsonObject> lines;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return lines;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (!line.trimmed().isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        }
        return lines;
    }

    QList<QJsonObject> reports() const { return readLog(reportLogPath()); }
    QList<QJsonObject> queries() const { return readLog(queryLogPath()); }
    int sntpRequests() const { return readLog(sntpLogPath()).size(); }

    QString controlPath() const { return m_dir.filePath("control"); }
    QString reportLogPath() const { return m_dir.filePath("reports.jsonl"); }
    QString queryLogPath() const { return m_dir.filePath("queries.jsonl"); }
    QString sntpLogPath() const { return m_dir.filePath("sntp.jsonl"); }
    QProcess& process() { return m_process; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_stderr;
    int m_controlWrites = 0;
};
