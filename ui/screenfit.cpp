#include "screenfit.h"

#include <QRect>
#include <QScreen>
#include <QWidget>

void moveOntoScreen(QWidget* window)
{
    const QScreen* where = window->screen();
    if (!where)
        return;
    const QRect room = where->availableGeometry();
    QRect outer = window->frameGeometry();
    if (room.contains(outer))
        return;
    outer.moveRight(qMin(outer.right(), room.right()));
    outer.moveBottom(qMin(outer.bottom(), room.bottom()));
    outer.moveLeft(qMax(outer.left(), room.left()));
    outer.moveTop(qMax(outer.top(), room.top()));
    window->move(outer.topLeft());
}
