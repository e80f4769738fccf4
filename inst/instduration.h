#pragma once

#include <QString>
#include <QtGlobal>

namespace Inst {

// Short text for a duration: "12 s", "3 min", "5 h", "2 days"; sign ignored.
QString formatDuration(qint64 ms);

} // namespace Inst
