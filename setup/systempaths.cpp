#include "systempaths.h"

#include <QtGlobal>

namespace SystemPaths {

QString root()
{
    QString prefix = qEnvironmentVariable("TAVRIN_PELLUM_ROOT");
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    return prefix;
}

QString setupRecordPath()
{
    return root() + QStringLiteral("/var/lib/tavrin-pellum/setup.ini");
}

} // namespace SystemPaths
