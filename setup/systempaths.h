#pragma once

#include <QString>

// Where the Linux build keeps its machine-wide files. TAVRIN_PELLUM_ROOT, when
// set, prefixes every one of them (the setup script honours the same
// variable), so tests can work on a scratch tree instead of the machine.
namespace SystemPaths {

QString root();             // the prefix, without a trailing slash; empty normally
QString setupRecordPath();  // <root>/var/lib/tavrin-pellum/setup.ini

} // namespace SystemPaths
