#include "clockwatcher.h"

#include "clockhistory.h"
#include "elapsedclock.h"
#include "frame.h"
#include "receivetime.h"
#include "sntp.h"
#include "statusreport.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QSettings>
#include <QSysInfo>
#include <QTimer>
#include <QUdpSocket>
#include <QUuid>

namespace {

const QString kLastSyncKey = QStringLiteral("clock/lastSyncUtcMs");
const QString kClientIdKey = QStringLiteral("clientId");

const QString kOrganisation = QStringLiteral("Quorrel Two");
const QString kApplication = QStringLiteral("Tavrin Pellum");

} // namespace

ClockWatcher::ClockWatcher(QObject* parent)
    : QObject(parent)
{
    registerClockStateMetaType();
    {
        QSettings settings(kOrganisation, kApplication);
        // Text or a time before 1970 is no sync we can trust: never synced.
        m_lastSyncUtcMs = qMax<qint64>(0, settings.value(kLastSyncKey, qint64(0)).toLongLong());
        m_clientId = settings.value(kClientIdKey).toString();
        if (m_clientId.isEmpty()) {
            m_clientId = QUuid::createUuid().toString(QUuid::WithoutBraces);
            settings.setValue(kClientIdKey, m_clientId);
        }
    }

    m_history = new ClockHistory(ClockHistory::defaultFilePath(), this);
    m_history->setClocks([this] { return wallClockMs(); }, [this] { return monotonicMs(); });
    m_history->recordStart(m_history->nowMs(), m_state);

    m_ntpSocket = new QUdpSocket(this);
    m_ntpSocket->bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    m_receiveStamps = enableReceiveStamps(m_ntpSocket->socketDescriptor());
    connect(m_ntpSocket, &QUdpSocket::readyRead, this, &ClockWatcher::onNtpReadyRead);

    m_reportSocket = new QUdpSocket(this);
    m_reportSocket->bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    connect(m_reportSocket, &QUdpSocket::readyRead, this, &ClockWatcher::onBeaconReadyRead);

    m_tickTimer = new QTimer(this);
    m_tickTimer->setInterval(kTickMs);
    connect(m_tickTimer, &QTimer::timeout, this, &ClockWatcher::onTick);
    m_tickTimer->start();

    m_probeTimer = new QTimer(this);
    m_probeTimer->setInterval(kProbeMs);
    connect(m_probeTimer, &QTimer::timeout, this, &ClockWatcher::onProbe);
    m_probeTimer->start();

    m_reportTimer = new QTimer(this);
    m_reportTimer->setInterval(kReportMs);
    connect(m_reportTimer, &QTimer::timeout, this, &ClockWatcher::sendBeacon);

    // The first probe waits until start-up work is done (or the first tick),
    // so that its reply is not held up by building and painting windows.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        m_startingUp = true;
        m_idleConnection = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                                   &ClockWatcher::probeAfterStartUp, Qt::QueuedConnection);
    }

    updateState();
}

ClockWatcher::~ClockWatcher()
{
    if (m_reporting)
        sendReport(true);
    saveLastSync(true);
}

qint64 ClockWatcher::wallClockNs() const
{
    return ::wallClockNs();
}

// The elapsed-time tests (reply age, heard window, jumps) count the time the
// computer slept: a resume is neither a jump nor a fresh reply.
qint64 ClockWatcher::elapsedNs() const
{
    return elapsedClockNs();
}

void ClockWatcher::setDestinationPorts(quint16 sntpPort, quint16 reportPort)
{
    m_sntpPort = sntpPort;
    m_reportPort = reportPort;
}

bool ClockWatcher::stampWithin(qint64 stampMs, qint64 windowMs) const
{
    return stampMs != kNever && monotonicMs() - stampMs <= windowMs;
}

ClockReading ClockWatcher::snapshot() const
{
    ClockReading r;
    r.nowMs = wallClockMs();
    // A reply measured against the clock before it jumped says nothing of
    // this clock, until the next reply measures it again.
    r.heard = stampWithin(m_heardAtMs, kHeardWindowMs) && !m_clockJumped && !jumpedSince(m_seenDriftMs);
    r.offsetMs = m_offsetMs;
    r.lastSyncUtcMs = m_lastSyncUtcMs;
    return r;
}

QString ClockWatcher::serverLabel() const
{
    return m_serverName.isEmpty() ? m_serverHost : m_serverName;
}

qint64 ClockWatcher::msSinceHeard() const
{
    return m_heardAtMs == kNever ? -1 : monotonicMs() - m_heardAtMs;
}

bool ClockWatcher::isReported() const
{
    return m_reporting && stampWithin(m_reportAnsweredAtMs, kReportAnsweredWindowMs);
}

void ClockWatcher::updateState()
{
    noticeClockJump();
    const ClockReading r = snapshot();
    const ClockState s = classifyReading(r);
    if (s == ClockState::Sync) {
        // While in sync the last sync follows the clock.
        m_lastSyncUtcMs = r.nowMs;
        saveLastSync(false);
    }
    const ClockState old = m_state;
    m_state = s;
    if (s != old) {
        m_history->recordStateChange(m_history->nowMs(), s);
        emit stateChanged(s);
        if (m_reporting)
            sendReport(false);
    }
}

qint64 ClockWatcher::driftSinceReply() const
{
    return (wallClockMs() - m_replyWallMs) - (monotonicMs() - m_replyMonoMs);
}

bool ClockWatcher::jumpedSince(qint64 seenDriftMs) const
{
    return m_replyMonoMs != kNever && qAbs(driftSinceReply() - seenDriftMs) > kJumpToleranceMs;
}

void ClockWatcher::noticeClockJump()
{
    if (!jumpedSince(m_seenDriftMs))
        return;
    const qint64 drift = driftSinceReply();
    m_history->recordClockJump(m_history->nowMs(), (drift - m_seenDriftMs) * 1000, m_state);
    m_seenDriftMs = drift;   // a further jump asks again
    m_clockJumped = true;
    onProbe();
}

void ClockWatcher::saveLastSync(bool force)
{
    if (!force && m_savedAtMs != kNever && monotonicMs() - m_savedAtMs < kSaveIntervalMs)
        return;
    m_savedAtMs = monotonicMs();
    QSettings settings(kOrganisation, kApplication);
    settings.setValue(kLastSyncKey, m_lastSyncUtcMs);
}

void ClockWatcher::onTick()
{
    probeAfterStartUp();
    updateState();
    emit changed();
}

void ClockWatcher::probeAfterStartUp()
{
    if (!m_startingUp)
        return;
    m_startingUp = false;
    disconnect(m_idleConnection);
    onProbe();
}

void ClockWatcher::onProbe()
{
    if (m_startingUp)
        return;
    if (m_serverAddress.isNull())
        lookUpServer();   // a name that did not resolve is tried again
    else
        sendRequest();
}

void ClockWatcher::lookUpServer()
{
    QHostAddress literal;
    if (m_serverHost.isEmpty() || literal.setAddress(m_serverHost) || m_lookingUp == m_serverHost)
        return;
    m_lookingUp = m_serverHost;
    const QString host = m_serverHost;
    QHostInfo::lookupHost(host, this, [this, host](const QHostInfo& info) { onLookedUp(host, info); });
}

void ClockWatcher::sendRequest()
{
    // A newer request replaces an unanswered one: only its reply can match.
    if (m_requestSentNs != 0)
        m_history->recordMissed(m_requestSentAtMs, m_state);
    m_requestSentAtMs = m_history->nowMs();
    m_requestSentElapsedNs = elapsedNs();
    m_requestSentNs = wallClockNs();
    m_ntpSocket->writeDatagram(makeSntpRequestNs(m_requestSentNs), m_serverAddress, m_sntpPort);
}

void ClockWatcher::onNtpReadyRead()
{
    while (m_ntpSocket->hasPendingDatagrams()) {
        // The kernel's stamp says how long the datagram waited; the wall
        // clock, read now, says when that was.
        qint64 ageNs = 0;
        if (!m_receiveStamps || !peekReceiveAgeNs(m_ntpSocket->socketDescriptor(), &ageNs))
            ageNs = 0;
        const QNetworkDatagram datagram = m_ntpSocket->receiveDatagram(512);
        if (m_requestSentNs == 0)
            continue;
        const qint64 nowElapsedNs = elapsedNs();
        if (ageNs > nowElapsedNs - m_requestSentElapsedNs)
            ageNs = 0;   // older than the request: a stamp on some other clock
        const qint64 receiveNs = wallClockNs() - ageNs;
        SntpMeasurement m;
        if (!readSntpReplyNs(datagram.data(), m_requestSentNs, receiveNs, &m))
            continue;
        const qint64 arrivedElapsedNs = nowElapsedNs - ageNs;
        if (qAbs((receiveNs - m_requestSentNs) - (arrivedElapsedNs - m_requestSentElapsedNs)) > kJumpToleranceMs * 1000000) {
            // The clock jumped while the request was out: the offset is void.
            // The next tick sees the jump and asks again.
            m_clockJumped = true;
            continue;
        }
        m_requestSentNs = 0;
        m_offsetMs = roundedDiv(m.offsetUs, 1000);
        m_heardAtMs = nowElapsedNs / 1000000;
        m_replyWallMs = receiveNs / 1000000;
        m_replyMonoMs = arrivedElapsedNs / 1000000;
        m_seenDriftMs = 0;
        m_clockJumped = false;
        // The server's time when the reply came: the record's timeline follows it.
        const qint64 trueMs = roundedDiv(receiveNs + m.offsetUs * 1000, 1000000);
        m_history->setTrueTime(trueMs, m_replyMonoMs);
        m_history->recordReply(trueMs, m.offsetUs, qint32(std::min<qint64>(m.delayUs, std::numeric_limits<qint32>::max())),
                               classifyReading(snapshot()));
        updateState();
        emit changed();
    }
}

void ClockWatcher::setServer(const QString& host, const QString& name)
{
    m_serverName = name;
    if (host == m_serverHost) {
        emit changed();
        return;
    }
    m_serverHost = host;
    m_serverAddress = QHostAddress();
    m_serverIsLocal = false;
    m_serverSteady = false;
    m_heardAtMs = kNever;
    m_replyMonoMs = kNever;
    m_reportAnsweredAtMs = kNever;
    m_requestSentNs = 0;

    if (!host.isEmpty()) {
        QHostAddress literal;
        if (literal.setAddress(host)) {
            // The IPv4-mapped form names the same IPv4 server; the sockets
            // are IPv4 only.
            bool isV4 = false;
            const quint32 v4 = literal.toIPv4Address(&isV4);
            m_serverAddress = isV4 ? QHostAddress(v4) : literal;
        }
        m_serverIsLocal = addressIsLocal(m_serverAddress);
        onProbe();   // looks a host name up
    }
    updateState();
}

void ClockWatcher::onLookedUp(const QString& host, const QHostInfo& info)
{
    if (host == m_lookingUp)
        m_lookingUp.clear();
    if (host != m_serverHost || !m_serverAddress.isNull())
        return; // the server changed while the lookup ran
    for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            m_serverAddress = address;
            break;
        }
    }
    m_serverIsLocal = addressIsLocal(m_serverAddress);
    if (!m_serverAddress.isNull())
        sendRequest();
    else
        m_history->recordMissed(m_history->nowMs(), m_state);   // a probe that found no address
}

bool ClockWatcher::addressIsLocal(const QHostAddress& address)
{
    if (address.isNull())
        return false;
    if (address.isLoopback())
        return true;
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    for (const QHostAddress& mine : own) {
        if (mine.isEqual(address, QHostAddress::TolerantConversion))
            return true;
    }
    return false;
}

void ClockWatcher::setServerSteady(bool steady)
{
    m_serverSteady = steady;
    emit changed();
}

void ClockWatcher::resetLastSync()
{
    m_lastSyncUtcMs = 0;
    saveLastSync(true);
    updateState();
}

void ClockWatcher::setReporting(bool on)
{
    if (on == m_reporting)
        return;
    if (on) {
        m_reporting = true;
        m_reportTimer->start(kReportMs);
        sendReport(false);
    } else {
        m_reportTimer->stop();
        sendReport(true);
        m_reporting = false;
        m_reportAnsweredAtMs = kNever;
    }
    emit changed();
}

void ClockWatcher::sendBeacon()
{
    if (m_reporting)
        sendReport(false);
}

QByteArray ClockWatcher::buildReport(bool bye) const
{
    StatusReportFields f;
    f.clientId = m_clientId;
    f.bye = bye;
    f.hostName = QSysInfo::machineHostName();
    f.osName = QSysInfo::prettyProductName();
    f.version = QCoreApplication::applicationVersion();
    f.state = m_state;
    f.reading = snapshot();
    f.server = m_serverAddress;
    return statusReportBody(f);
}

void ClockWatcher::sendReport(bool bye)
{
    if (!m_reportSocket)
        return;
    const QByteArray frame = buildFrame(StatusReport, buildReport(bye));
    if (frame.isEmpty())
        return;
    if (!m_serverAddress.isNull())
        m_reportSocket->writeDatagram(frame, m_serverAddress, m_reportPort);
    m_reportSocket->writeDatagram(frame, QHostAddress(QHostAddress::Broadcast), m_reportPort);
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            if (entry.broadcast().isNull() || entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            m_reportSocket->writeDatagram(frame, entry.broadcast(), m_reportPort);
        }
    }
}

void ClockWatcher::onBeaconReadyRead()
{
    while (m_reportSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_reportSocket->receiveDatagram(kFrameReadSize);
        if (!isStatusReportAnswerFor(datagram.data(), m_clientId) || !answerFromServer(datagram.senderAddress()))
            continue;
        m_reportAnsweredAtMs = monotonicMs();
        emit changed();
    }
}

bool ClockWatcher::answerFromServer(const QHostAddress& sender) const
{
    // Reports are broadcast, so other servers answer too; only our own
    // server can say it heard us.
    if (m_serverAddress.isNull())
        return false;
    if (sender.isEqual(m_serverAddress, QHostAddress::TolerantConversion))
        return true;
    return m_serverIsLocal && addressIsLocal(sender);
}
