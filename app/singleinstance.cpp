#include "singleinstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QUrl>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
constexpr int kGuardWaitMs = 300;
// How long a launch keeps asking an instance that holds the lock but does
// not answer yet (it may be between taking the lock and listening).
constexpr int kHandOverPatienceMs = 3000;

#ifdef Q_OS_WIN
// Windows keeps a background process from raising its window; the launch the
// user just started may hand that right on (AllowSetForegroundWindow), here to
// the process at the other end of the pipe.
void letInstanceComeForward(const QLocalSocket& socket)
{
    ULONG pid = 0;
    if (GetNamedPipeServerProcessId(reinterpret_cast<HANDLE>(socket.socketDescriptor()), &pid) && pid)
        AllowSetForegroundWindow(pid);
}
#else
// Nobody else may create, replace or read what is in it.
bool isPrivateFolder(const QString& path, bool followLink)
{
    struct stat st = {};
    const QByteArray native = QFile::encodeName(path);
    if ((followLink ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st)) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700;
}
#endif

// Tells a running instance to show itself; false when none answers.
bool handOver(const QString& path)
{
    QLocalSocket socket;
    socket.connectToServer(path, QIODevice::ReadWrite);
    if (!socket.waitForConnected(kGuardWaitMs))
        return false;
#ifdef Q_OS_WIN
    letInstanceComeForward(socket);
#endif
    socket.write("show\n", 5);
    socket.waitForBytesWritten(kGuardWaitMs);
    return true;
}
} // namespace

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

QString instanceFolder()
{
#ifdef Q_OS_WIN
    return QDir::tempPath();
#else
    // In the shared temp folder another user could take the name first, and
    // every launch would then hand over to that user's socket.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime, true))
        return runtime;
    const QString own = QDir::tempPath() + QStringLiteral("/tavrin-pellum-") + QString::number(::geteuid());
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    // One that someone else made first is never used.
    return isPrivateFolder(own, false) ? own : QString();
#endif
}

QString instanceServerPath()
{
#ifdef Q_OS_WIN
    return instanceServerName();
#else
    const QString folder = instanceFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + instanceServerName();
#endif
}

QString instanceLockPath()
{
    // A user name outside the code page reads as "?", which no Windows file
    // name may hold; percent-encoding leaves only letters, digits, "-._~%".
    return instanceFolder() + QLatin1Char('/')
        + QString::fromLatin1(QUrl::toPercentEncoding(instanceServerName())) + QStringLiteral(".lock");
}

bool claimSingleInstance(QLocalServer** server)
{
    if (server)
        *server = nullptr;
    const QString path = instanceServerPath();
    if (path.isEmpty())
        return true; // no private place for the guard: run without one
    // Held for the instance's whole life, so it is stale only once its owner is dead.
    auto* lock = new QLockFile(instanceLockPath());
    lock->setStaleLockTime(0);
    const QDeadlineTimer patience(kHandOverPatienceMs);
    while (!lock->tryLock(0)) {
        const bool lockable = lock->error() == QLockFile::LockFailedError;
        if (!lockable) {
            // The lock cannot be made at all (a full or unwritable folder):
            // the plain guard still hands over to a running instance.
            delete lock;
            lock = nullptr;
        }
        if (handOver(path)) {
            delete lock;
            return false;
        }
        if (!lockable)
            break;
        if (patience.hasExpired()) {
            // Alive but silent: still never a second instance.
            delete lock;
            return false;
        }
        QThread::msleep(20);
    }
    // With the lock, whatever is registered under the path was left by a dead
    // instance; without it, by one that did not answer.
    QLocalServer::removeServer(path);
    auto* local = new QLocalServer();
    if (local->listen(path) && lock)
        QObject::connect(local, &QObject::destroyed, [lock] { delete lock; });
    else
        delete lock; // no guard: later launches start on their own, as they always did
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
