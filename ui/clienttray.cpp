#include "clienttray.h"

#include "clockwatcher.h"
#include "instschemewatcher.h"
#include "statustexts.h"

#include <QAction>
#include <QDateTime>
#include <QGuiApplication>
#include <QIcon>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QSettings>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cmath>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

const QColor kLightInk(236, 237, 240);
const QColor kDarkInk(28, 30, 34);
constexpr double kDimAlpha = 0.3;

// The lamp drawn afresh at whatever size the platform asks for. Windows'
// notification area shows its small-icon size, 16 px at 100 % and 20, 24,
// 28, 32, 40, 48 px at 125 % to 300 %: an icon of 16 and 32 px images was
// scaled to those, and blurred.
class LampIconEngine : public QIconEngine {
public:
    LampIconEngine(ClockState state, bool lit, bool darkInk) : state(state), lit(lit), darkInk(darkInk) {}

    // In device pixels: QIcon asks for the size times the screen's scale.
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        int side = qMin(size.width(), size.height());
#ifdef Q_OS_WIN
        // Qt's tray asks for the small-icon size times the screen's scale
        // again (25 px at 125 %), which Windows would shrink back, blurred.
        const int small = GetSystemMetrics(SM_CXSMICON);
        if (small > 0)
            side = qMin(side, small);
#endif
        return ClientTray::paintLamp(state, lit, darkInk, side, 1.0);
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override
    {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const int side = qMin(rect.width(), rect.height());
        painter->drawPixmap(QRect(rect.topLeft(), QSize(side, side)),
                            ClientTray::paintLamp(state, lit, darkInk, side, scale));
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = qMin(size.width(), size.height());
        return QSize(side, side);
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (const int side : {16, 20, 24, 28, 32, 40, 48, 64})
            sizes.append(QSize(side, side));
        return sizes;
    }
    QIconEngine* clone() const override { return new LampIconEngine(state, lit, darkInk); }
    QString key() const override { return QStringLiteral("tavrin-lamp"); }

private:
    ClockState state;
    bool lit;
    bool darkInk;
};

} // namespace

ClientTray::ClientTray(ClockWatcher* watcher_, QObject* parent)
    : QObject(parent), watcher(watcher_)
{
    // The menu has no parent: a QMenu needs a widget parent, and the tray is not one.
    menu = new QMenu;
    menu->setObjectName(QStringLiteral("trayMenu"));
    statusAction = menu->addAction(QString());
    statusAction->setObjectName(QStringLiteral("trayStatusAction"));
    statusAction->setEnabled(false);
    lastSyncAction = menu->addAction(QString());
    lastSyncAction->setObjectName(QStringLiteral("trayLastSyncAction"));
    lastSyncAction->setEnabled(false);
    menu->addSeparator();
    alertAction = menu->addAction(tr("Show the clock alert"));
    alertAction->setObjectName(QStringLiteral("trayAlertAction"));
    connect(alertAction, &QAction::triggered, this, &ClientTray::alertRequested);
    QAction* openAction = menu->addAction(tr("Open Tavrin Pellum"));
    openAction->setObjectName(QStringLiteral("trayOpenAction"));
    connect(openAction, &QAction::triggered, this, &ClientTray::openRequested);
    QAction* historyAction = menu->addAction(tr("Clock history"));
    historyAction->setObjectName(QStringLiteral("trayHistoryAction"));
    connect(historyAction, &QAction::triggered, this, &ClientTray::historyRequested);
    syncNowAction = menu->addAction(tr("Sync now"));
    syncNowAction->setObjectName(QStringLiteral("traySyncNowAction"));
    connect(syncNowAction, &QAction::triggered, this, &ClientTray::syncNowRequested);
    menu->addSeparator();
    QAction* quitAction = menu->addAction(tr("Quit Tavrin Pellum"));
    quitAction->setObjectName(QStringLiteral("trayQuitAction"));
    connect(quitAction, &QAction::triggered, this, &ClientTray::quitRequested);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setObjectName(QStringLiteral("trayIcon"));
    trayIcon->setContextMenu(menu);
    connect(trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    emit openRequested();
            });

    blinkTimer = new QTimer(this);
    blinkTimer->setObjectName(QStringLiteral("trayBlinkTimer"));
    connect(blinkTimer, &QTimer::timeout, this, [this] {
        lit = !lit;
        refresh();
    });

    if (watcher)
        connect(watcher, &ClockWatcher::changed, this, &ClientTray::refresh);
    auto* scheme = new Inst::SchemeWatcher(this);
    connect(scheme, &Inst::SchemeWatcher::schemeChanged, this, &ClientTray::refresh);

    refresh();
    // Shown even without a notification area: the platform keeps the request
    // and puts the icon up once an area appears (a panel started late). The
    // offscreen platform can never have one and only warns about it.
    if (QSystemTrayIcon::isSystemTrayAvailable()
        || QGuiApplication::platformName() != QLatin1String("offscreen"))
        trayIcon->show();
}

ClientTray::~ClientTray()
{
    // Hide first so the platform drops the icon before its menu goes.
    trayIcon->hide();
    trayIcon->setContextMenu(nullptr);
    delete menu;
}

QString ClientTray::stateWord(ClockState state)
{
    switch (state) {
    case ClockState::Sync: return tr("In sync");
    case ClockState::Lost: return tr("Server not heard");
    case ClockState::Off: return tr("Clock is off");
    case ClockState::Wrong: return tr("Clock wrong");
    case ClockState::None: break;
    }
    return tr("No server");
}

bool ClientTray::systemSchemeIsLight()
{
    if (!qGuiApp)
        return false;
#ifdef Q_OS_WIN
    // The taskbar has a scheme of its own, which may differ from the apps'
    // one, and from Qt 6.8 the scheme this program asks for comes back as the
    // "system" one. Read every refresh, so a change shows within a tick.
    const QSettings personalize(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize"),
        QSettings::NativeFormat);
    const QVariant taskbarLight = personalize.value(QStringLiteral("SystemUsesLightTheme"));
    if (taskbarLight.isValid())
        return taskbarLight.toInt() != 0;
#endif
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return QGuiApplication::styleHints()->colorScheme() == Qt::ColorScheme::Light;
#else
    return QGuiApplication::palette().color(QPalette::Window).lightness() >= 128;
#endif
}

QPixmap ClientTray::paintLamp(ClockState state, bool lit, bool darkInk, int size, double scale)
{
    if (size < 1 || !(scale > 0.0) || !std::isfinite(scale))
        return QPixmap();
    const int side = qRound(size * scale);
    if (side < 1)
        return QPixmap();

    QPixmap pixmap(side, side);
    if (pixmap.isNull())
        return pixmap; // too large to allocate
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);

    const double u = size / 18.0;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    QPen pen(darkInk ? kDarkInk : kLightInk, 1.4 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QPointF centre(7.6 * u, 9.0 * u);
    painter.drawEllipse(centre, 5.3 * u, 5.3 * u);
    painter.drawLine(centre, QPointF(centre.x(), centre.y() - 3 * u));
    painter.drawLine(centre, QPointF(centre.x() - 2 * u, centre.y() - 1.5 * u));

    // Erase the face around the lamp so a transparent ring separates the two.
    const QPointF lampCentre(13.6 * u, 12.9 * u);
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(Qt::black, Qt::SolidPattern));
    painter.drawEllipse(lampCentre, 5.1 * u, 5.1 * u);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    QColor lamp = stateColor(state);
    if (!lit)
        lamp.setAlphaF(kDimAlpha);
    painter.setBrush(QBrush(lamp, Qt::SolidPattern));
    painter.drawEllipse(lampCentre, 3.9 * u, 3.9 * u);
    painter.end();
    return pixmap;
}

QIcon ClientTray::lampIcon(ClockState state, bool lit, bool darkInk)
{
    return QIcon(new LampIconEngine(state, lit, darkInk));
}

QString ClientTray::stateLine() const
{
    const ClockState s = shownState();
    QString line = stateWord(s);
    const QString label = watcher ? watcher->serverLabel() : QString();
    if (!label.isEmpty() && s != ClockState::None)
        line += QStringLiteral(" \u00B7 ") + label;
    return line;
}

QString ClientTray::lastSyncLine() const
{
    const qint64 last = watcher ? watcher->lastSyncUtcMs() : 0;
    if (last < 1)
        return tr("Never synced");
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(last).toLocalTime();
    return tr("Last sync %1").arg(local.toString(QStringLiteral("ddd d MMM, HH:mm:ss")));
}

bool ClientTray::hasNotificationArea()
{
    return QSystemTrayIcon::isSystemTrayAvailable() || QGuiApplication::platformName() == QLatin1String("offscreen");
}

ClockState ClientTray::shownState() const
{
    return watcher ? StatusTexts::shownState(watcher->state(), watcher->serverHost()) : ClockState::None;
}

void ClientTray::refresh()
{
    const ClockState s = shownState();

    if (s == ClockState::Off || s == ClockState::Wrong) {
        const int wanted = s == ClockState::Off ? kOffBlinkMs : kWrongBlinkMs;
        // A running blink keeps its phase; only a new interval restarts it.
        if (!blinkTimer->isActive() || blinkTimer->interval() != wanted)
            blinkTimer->start(wanted);
    } else {
        blinkTimer->stop();
        lit = true;
    }

    darkInk = systemSchemeIsLight();

    trayIcon->setIcon(lampIcon(s, lit, darkInk));

    const QString line = stateLine();
    // A menu reads "&" as the mark of a shortcut key; a server name means it literally.
    statusAction->setText(QString(line).replace(QLatin1Char('&'), QStringLiteral("&&")));
    lastSyncAction->setText(lastSyncLine());

    syncNowAction->setEnabled(watcher && !watcher->serverHost().isEmpty());
    alertAction->setVisible(s == ClockState::Wrong);

    const QString tip = tr("Tavrin Pellum: %1").arg(line);
    trayIcon->setToolTip(keepingWarning.isEmpty() ? tip : tip + QLatin1Char('\n') + keepingWarning);
}

void ClientTray::setKeepingWarning(const QString& warning)
{
    keepingWarning = warning;
    refresh();
}
