#include "timeservice.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QtEndian>

#if defined(PELLUM_HAVE_DBUS)
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QHostAddress>
#elif defined(Q_OS_WIN)
#include <windows.h>
#include <winevt.h>
#endif

namespace {

struct TimeEvent {
    int id = 0;
    qint64 atUtcMs = 0;
    QStringList data;
};

bool readEvent(const QString& xml, TimeEvent* event)
{
    QXmlStreamReader reader(xml);
    bool ours = false;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = reader.name();
        if (name == QLatin1String("Provider")) {
            ours = reader.attributes().value(QLatin1String("Name")) == QLatin1String("Microsoft-Windows-Time-Service");
        } else if (name == QLatin1String("EventID")) {
            event->id = reader.readElementText().trimmed().toInt();
        } else if (name == QLatin1String("TimeCreated")) {
            const QString stamp = reader.attributes().value(QLatin1String("SystemTime")).toString();
            // Seven decimals of seconds; Qt reads at most three.
            static const QRegularExpression fraction(QStringLiteral("(\\.\\d{3})\\d*"));
            const QDateTime at = QDateTime::fromString(QString(stamp).replace(fraction, QStringLiteral("\\1")), Qt::ISODateWithMs);
            event->atUtcMs = at.isValid() ? at.toMSecsSinceEpoch() : 0;
        } else if (name == QLatin1String("Data")) {
            event->data.append(reader.readElementText().trimmed());
        }
    }
    return !reader.hasError() && ours && event->id > 0 && event->atUtcMs > 0;
}

// "192.0.2.10,0x8 (ntp.m|0x8|0.0.0.0:123->192.0.2.10:123)" names 192.0.2.10;
// the peer address in brackets, when there, is the address.
void readSource(const QString& text, TimeServiceStatus* status)
{
    const int bracket = text.indexOf(QLatin1String(" ("));
    status->server = (bracket < 0 ? text : text.left(bracket)).section(QLatin1Char(','), 0, 0).trimmed();
    const int arrow = text.indexOf(QLatin1String("->"));
    if (arrow >= 0) {
        QString peer = text.mid(arrow + 2);
        peer = peer.left(peer.indexOf(QLatin1Char(')')));
        status->address = peer.left(peer.lastIndexOf(QLatin1Char(':'))).remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    }
}

} // namespace

TimeServiceStatus statusFromTimeServiceEvents(const QStringList& eventXml)
{
    TimeEvent source;
    TimeEvent unsynced;
    for (const QString& xml : eventXml) {
        TimeEvent e;
        if (!readEvent(xml, &e))
            continue;
        if ((e.id == 35 || e.id == 37) && !e.data.isEmpty() && !e.data.first().isEmpty() && e.atUtcMs > source.atUtcMs)
            source = e;
        else if (e.id == 36 && e.atUtcMs > unsynced.atUtcMs)
            unsynced = e;
    }
    TimeServiceStatus status;
    if (source.id) {
        status.readable = status.running = true;
        readSource(source.data.first(), &status);
        status.sourceSeenUtcMs = source.atUtcMs;
    }
    if (unsynced.id && unsynced.atUtcMs > source.atUtcMs) {
        bool ok = false;
        const qint64 seconds = unsynced.data.value(0).toLongLong(&ok);
        status.readable = status.running = true;
        status.unsyncedSinceUtcMs = unsynced.atUtcMs - (ok && seconds > 0 ? seconds * 1000 : 0);
    }
    return status;
}

TimeServiceReader::TimeServiceReader(QObject* parent)
    : QObject(parent)
{
}

void TimeServiceReader::take(const TimeServiceStatus& fresh)
{
    m_status = fresh;
    emit updated();
}

#if defined(PELLUM_HAVE_DBUS)

namespace {

const QString kService = QStringLiteral("org.freedesktop.timesync1");

QString addressFrom(const QVariant& value)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return {};
    const QDBusArgument arg = value.value<QDBusArgument>();
    int family = 0;
    QByteArray bytes;
    arg.beginStructure();
    arg >> family >> bytes;
    arg.endStructure();
    if (bytes.size() == 4)
        return QHostAddress(qFromBigEndian<quint32>(bytes.constData())).toString();
    if (bytes.size() == 16)
        return QHostAddress(reinterpret_cast<const quint8*>(bytes.constData())).toString();
    return {};
}

// The destination stamp of the last reply the service took in: when its last
// exchange ended, in microseconds of the wall clock; 0 before any.
qint64 lastExchangeUsFrom(const QVariant& value)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return 0;
    const QDBusArgument arg = value.value<QDBusArgument>();
    uint leap = 0, version = 0, mode = 0, stratum = 0;
    int precision = 0;
    qulonglong rootDelay = 0, rootDispersion = 0, origin = 0, receive = 0, transmit = 0, dest = 0;
    qulonglong packets = 0, jitter = 0;
    QByteArray reference;
    bool spike = false;
    arg.beginStructure();
    arg >> leap >> version >> mode >> stratum >> precision >> rootDelay >> rootDispersion >> reference
        >> origin >> receive >> transmit >> dest >> spike >> packets >> jitter;
    arg.endStructure();
    return qint64(dest);
}

} // namespace

void TimeServiceReader::refresh()
{
    if (m_asking)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/timesync1"),
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("GetAll"));
    call << QStringLiteral("org.freedesktop.timesync1.Manager");
    // Asking must not start a service the user has stopped.
    call.setAutoStartService(false);
    m_asking = true;
    auto* pending = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, 3000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        m_asking = false;
        const QDBusPendingReply<QVariantMap> reply = *w;
        TimeServiceStatus fresh = m_status;
        fresh.running = false;
        if (reply.isError()) {
            take(fresh);   // gone or unreachable: what was read before stays, marked as old
            return;
        }
        const QVariantMap props = reply.value();
        fresh.readable = fresh.running = true;
        const QString server = props.value(QStringLiteral("ServerName")).toString();
        if (server != fresh.server)
            fresh.lastSyncUtcMs = 0;
        fresh.server = server;
        fresh.address = addressFrom(props.value(QStringLiteral("ServerAddress")));
        fresh.pollIntervalMs = qint64(props.value(QStringLiteral("PollIntervalUSec")).toULongLong() / 1000);
        const qint64 exchangeUs = lastExchangeUsFrom(props.value(QStringLiteral("NTPMessage")));
        if (exchangeUs > 0)
            fresh.lastSyncUtcMs = exchangeUs / 1000;
        take(fresh);
    });
}

#elif defined(Q_OS_WIN)

void TimeServiceReader::refresh()
{
    // The System log is open to every user; the newest few of the service's
    // own events say which source it uses and whether it has stopped syncing.
    const wchar_t* query = L"*[System[Provider[@Name='Microsoft-Windows-Time-Service'] and "
                           L"(EventID=35 or EventID=36 or EventID=37)]]";
    QStringList events;
    EVT_HANDLE results = EvtQuery(nullptr, L"System", query, EvtQueryChannelPath | EvtQueryReverseDirection);
    if (results) {
        EVT_HANDLE batch[16];
        DWORD returned = 0;
        if (EvtNext(results, 16, batch, 2000, 0, &returned)) {
            for (DWORD i = 0; i < returned; ++i) {
                DWORD used = 0, properties = 0;
                EvtRender(nullptr, batch[i], EvtRenderEventXml, 0, nullptr, &used, &properties);
                QVector<wchar_t> buffer(int(used / sizeof(wchar_t)) + 1);
                if (EvtRender(nullptr, batch[i], EvtRenderEventXml, DWORD(buffer.size() * sizeof(wchar_t)),
                              buffer.data(), &used, &properties))
                    events.append(QString::fromWCharArray(buffer.constData()));
                EvtClose(batch[i]);
            }
        }
        EvtClose(results);
    }
    take(statusFromTimeServiceEvents(events));
}

#else

void TimeServiceReader::refresh()
{
    take(m_status);   // no service this program knows how to read
}

#endif
