#include "instcaption.h"

#include "instfonts.h"
#include "insttheme.h"

#include <QLabel>

namespace Inst {

QLabel* makeCaption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(monoFont(10.5, 600, 1.2));
    label->setProperty("tone", QByteArray("muted"));
    return label;
}

} // namespace Inst
