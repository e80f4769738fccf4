#include "singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {
constexpr int kGuardWaitMs = 300;
}

QString instanceServerName()
{
    QString user = QString::fromLocal8Bit(qgetenv("USERNAME"));
#ifndef Q_OS_WIN
    // Most Linux sessions have no USERNAME; without the login name two users
    // on one machine would share one instance name and lock each other out.
    if (user.isEmpty())
        user = QString::fromLocal8Bit(qgetenv("USER"));
#endif
    return QStringLiteral("com.tavrin.pellum.app.instance.") + user.toLower();
}

bool claimSingleInstance(QLocalServer** server)
{
    const QString name = instanceServerName();
    {
        QLocalSocket socket;
        socket.connectToServer(name, QIODevice::ReadWrite);
        if (socket.waitForConnected(kGuardWaitMs)) {
            socket.write("show\n", 5);
            socket.waitForBytesWritten(kGuardWaitMs);
            return false;
        }
    }
    // Nobody answered: a registration left by a crashed instance would block listen().
    QLocalServer::removeServer(name);
    auto* local = new QLocalServer();
    local->listen(name);
    if (server)
        *server = local;
    else
        delete local;
    return true;
}

bool launchedAtLogin(const QStringList& arguments)
{
    return arguments.contains(QLatin1String(kLoginArgument), Qt::CaseSensitive);
}
