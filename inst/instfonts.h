#pragma once

#include <QFont>
#include <QString>

namespace Inst {

// Loads the bundled mono family once; safe to call any number of times.
void ensureFonts();
// The loaded family name (empty before ensureFonts has run).
QString monoFamily();
QFont monoFont(double px, int weight = 400, double letterSpacing = 0.0);
QFont uiFont(double px, int weight = 400);

} // namespace Inst
