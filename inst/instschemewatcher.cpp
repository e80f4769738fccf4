#include "instschemewatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QStyleHints>
#include <QTimer>

namespace Inst {

SchemeWatcher::SchemeWatcher(QObject* parent)
    : QObject(parent)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(QGuiApplication::styleHints(), &QStyleHints::colorSchemeChanged, this,
                [this] { notifySoon(); });
#endif
    // Older Qt has no scheme signal; a theme or application palette change
    // is the only hint. Newer Qt may deliver both, hence the coalescing.
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool SchemeWatcher::eventFilter(QObject* watched, QEvent* event)
{
    // Theme changes reach the windows, palette changes the application.
    const QEvent::Type type = event->type();
    if ((type == QEvent::ThemeChange && watched->isWindowType())
        || (type == QEvent::ApplicationPaletteChange && watched == QCoreApplication::instance()))
        notifySoon();
    return QObject::eventFilter(watched, event);
}

void SchemeWatcher::notifySoon()
{
    if (pending_)
        return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
        pending_ = false;
        emit schemeChanged();
    });
}

} // namespace Inst
