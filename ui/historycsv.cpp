#include "historycsv.h"

#include <QDateTime>

namespace {
QString milliseconds(qint64 us)
{
    return QString::number(double(us) / 1000.0, 'f', 3);
}
} // namespace

// Written with "Z", the form spreadsheets and scripts read most readily, and
// with CRLF line ends as RFC 4180 has them. The times are the record's true
// time; a missed probe's is when it went out.
QString historyCsv(const QVector<ClockSample>& samples)
{
    QString out = QStringLiteral("time,offset_ms,delay_ms,state\r\n");
    for (const ClockSample& s : samples) {
        const bool reply = s.kind == ClockSample::Kind::Reply;
        if (!reply && s.kind != ClockSample::Kind::Missed)
            continue;
        out += QDateTime::fromMSecsSinceEpoch(s.atMs, Qt::UTC).toString(Qt::ISODateWithMs);
        out += QLatin1Char(',');
        if (reply)
            out += milliseconds(s.offsetUs) + QLatin1Char(',') + milliseconds(s.delayUs);
        else
            out += QLatin1Char(',');
        out += QLatin1Char(',') + stateReportWord(s.state) + QStringLiteral("\r\n");
    }
    return out;
}
