#include "instduration.h"

#include <limits>

namespace Inst {

QString formatDuration(qint64 ms)
{
    // The magnitude of the most negative value does not fit in qint64.
    const quint64 a = ms < 0 ? quint64(0) - quint64(ms) : quint64(ms);
    const quint64 s = a / 1000;
    if (s < 90)
        return QStringLiteral("%1 s").arg(s);
    if (s < 5400)
        return QStringLiteral("%1 min").arg(a / 60000);
    if (s >= 129600)
        return QStringLiteral("%1 days").arg(a / 86400000);
    return QStringLiteral("%1 h").arg(a / 3600000);
}

} // namespace Inst
