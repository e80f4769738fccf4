#include "statusreport.h"

#include "frame.h"

#include <QJsonDocument>
#include <QJsonObject>

QString reportedHostName(const QString& hostName)
{
    static const QString suffix = QStringLiteral(".local");
    if (hostName.endsWith(suffix, Qt::CaseSensitive))
        return hostName.left(hostName.size() - suffix.size());
    return hostName;
}

QByteArray statusReportBody(const StatusReportFields& f)
{
    QJsonObject o;
    o.insert(QStringLiteral("id"), f.clientId);
    if (f.bye)
        o.insert(QStringLiteral("bye"), true);
    o.insert(QStringLiteral("name"), reportedHostName(f.hostName));
    o.insert(QStringLiteral("os"), f.osName);
    o.insert(QStringLiteral("ver"), f.version);
    o.insert(QStringLiteral("state"), stateReportWord(f.state));
    if (f.reading.heard)
        o.insert(QStringLiteral("offset_ms"), double(f.reading.offsetMs));
    if (f.reading.lastSyncUtcMs > 0)
        o.insert(QStringLiteral("last_sync"), double(f.reading.lastSyncUtcMs / 1000));
    if (!f.server.isNull())
        o.insert(QStringLiteral("server"), f.server.toString());
    o.insert(QStringLiteral("t"), double(f.reading.nowMs));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool isStatusReportAnswerFor(const QByteArray& datagram, const QString& clientId)
{
    if (clientId.isEmpty())
        return false;
    const auto frame = parseFrame(datagram, {StatusReportAnswer});
    if (!frame)
        return false;
    // A body that is not an object reads as an empty one: no "id".
    const QJsonObject answer = QJsonDocument::fromJson(frame->body).object();
    return answer.value(QStringLiteral("id")).toString() == clientId;
}
