#include "historycsv.h"

#include <QDateTime>

// Written with "Z", the form spreadsheets and scripts read most readily.
QString historyCsv(const QVector<ClockSample>& samples)
{
    QString out = QStringLiteral("time,offset_ms,delay_ms,state\n");
    for (const ClockSample& s : samples) {
        const bool reply = s.kind == ClockSample::Kind::Reply;
        if (!reply && s.kind != ClockSample::Kind::Missed)
            continue;
        out += QDateTime::fromMSecsSinceEpoch(s.utcMs).toUTC().toString(Qt::ISODateWithMs);
        out += QLatin1Char(',');
        if (reply)
            out += QString::number(s.offsetMs) + QLatin1Char(',') + QString::number(s.delayMs);
        else
            out += QLatin1Char(',');
        out += QLatin1Char(',') + stateReportWord(s.state) + QLatin1Char('\n');
    }
    return out;
}
