#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace Inst {

// The small muted title used by bezels and readouts.
QLabel* makeCaption(const QString& text, QWidget* parent = nullptr);

} // namespace Inst
