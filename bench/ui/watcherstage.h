#pragma once

// Puts a real ClockWatcher into any clock state for the alert demo:
// a loopback time server on an ephemeral port answers its probes, and the
// watcher's wall clock can be moved by a skew.

#include "clockwatcher.h"
#include "sntp.h"

#include <QDateTime>
#include <QFile>
#include <QNetworkDatagram>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <functional>
#include <memory>

namespace WatcherStage {

inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 15000)
{
    return QTest::qWaitFor(done, timeoutMs);
}

// Forgets the stored last sync and identity, so a new watcher starts from scratch.
inline void clearSettings()
{
    QSettings(QStringLiteral("Quorrel Two"), QStringLiteral("Tavrin Pellum")).clear();
}

// Keeps the settings store and the clock record in a scratch directory; call before the application object exists.
inline void useScratchSettings(const QTemporaryDir& dir)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path()));
}

// Answers SNTP requests on 127.0.0.1 with the real clock plus skewMs.
class LoopbackTimeServer {
public:
    LoopbackTimeServer()
    {
        socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
        QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [this] { answer(); });
    }

    quint16 port() const { return socket.localPort(); }
    qint64 skewMs = 0;
    int answered = 0;

private:
    void answer()
    {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram request = socket.receiveDatagram(512);
            const QByteArray in = request.data();
            if (in.size() < kSntpPacketSize)
                continue;
            QByteArray out(kSntpPacketSize, '\0');
            out[0] = char(0x24); // version 4, server mode
            out[1] = char(2);    // stratum
            for (int i = 0; i < 8; ++i)
                out[24 + i] = in[40 + i];
            const quint64 ts = unixMsToNtp(QDateTime::currentMSecsSinceEpoch() + skewMs);
            for (int block : {32, 40}) {
                for (int i = 0; i < 8; ++i)
                    out[block + i] = char(ts >> (56 - 8 * i));
            }
            socket.writeDatagram(out, request.senderAddress(), quint16(request.senderPort()));
            ++answered;
        }
    }

    QUdpSocket socket;
};

// The watcher with its wall clock movable and its probes aimed at the loopback server.
class StagedWatcher : public ClockWatcher {
public:
    explicit StagedWatcher(quint16 sntpPort)
    {
        // The report port is never used: these tests do not switch reports on.
        setDestinationPorts(sntpPort, 9);
    }
    qint64 clockSkewMs = 0;

protected:
    qint64 wallClockNs() const override { return ClockWatcher::wallClockNs() + clockSkewMs * 1000000; }
};

// A watcher and its server, plus moves into each state.
struct Stage {
    LoopbackTimeServer server;
    std::unique_ptr<StagedWatcher> watcher{new StagedWatcher(server.port())};

    StagedWatcher* operator->() const { return watcher.get(); }

    bool toSync(const QString& name = QStringLiteral("Lab clock"))
    {
        server.skewMs = 0;
        watcher->setServer(QStringLiteral("127.0.0.1"), name);
        return waitFor([this] { return watcher->state() == ClockState::Sync; });
    }
    bool toOff()
    {
        server.skewMs = 5000;
        watcher->setServer(QStringLiteral("127.0.0.1"), QStringLiteral("Lab clock"));
        return waitFor([this] { return watcher->state() == ClockState::Off; });
    }
    // In sync first, then the local clock jumps back a minute: the server is
    // still heard and its last answer agrees with the new clock.
    bool toWrongServerAgrees()
    {
        if (!toSync())
            return false;
        watcher->clockSkewMs = -60000;
        watcher->onTick();
        return watcher->state() == ClockState::Wrong;
    }
    // As above, but a fresh answer shows the server disagreeing.
    bool toWrongServerDisagrees()
    {
        if (!toWrongServerAgrees())
            return false;
        const int before = server.answered;
        watcher->onProbe();
        return waitFor([&] { return server.answered > before && qAbs(watcher->snapshot().offsetMs) > 50000; })
            && watcher->state() == ClockState::Wrong;
    }
    // Wrong with no server at all.
    bool toWrongNoServer()
    {
        if (!toWrongServerAgrees())
            return false;
        watcher->setServer(QString(), QString());
        return watcher->state() == ClockState::Wrong;
    }
    bool toLost()
    {
        if (!toSync())
            return false;
        watcher->setServer(QStringLiteral("127.0.0.2"), QString());
        return watcher->state() == ClockState::Lost;
    }
};

} // namespace WatcherStage
