#include "singleinstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>
#include <QUrl>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <sddl.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
constexpr int kGuardWaitMs = 300;
// How long a launch keeps asking an instance that holds the lock but does
// not answer yet (it may be between taking the lock and listening).
constexpr int kHandOverPatienceMs = 3000;
// The one request the instance acts on, and how long a client has to send it.
constexpr char kShowRequest[] = "show\n";
constexpr int kShowRequestSize = 5;
constexpr int kRequestPatienceMs = 2000;

#ifdef Q_OS_WIN
// The user of a process token as a SID text ("S-1-5-21-…"); empty when it cannot be read.
QString tokenUserSid(HANDLE process)
{
    QString text;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return text;
    alignas(TOKEN_USER) BYTE buffer[256];
    DWORD size = 0;
    wchar_t* sid = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)
        && ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text = QString::fromWCharArray(sid);
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

QString currentUserSid()
{
    return tokenUserSid(GetCurrentProcess());
}

// Whether process `pid` runs as this process's user.
bool runsAsThisUser(ULONG pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return false;
    const QString sid = tokenUserSid(process);
    CloseHandle(process);
    return !sid.isEmpty() && sid == currentUserSid();
}

HANDLE pipeOf(const QLocalSocket& socket)
{
    return reinterpret_cast<HANDLE>(socket.socketDescriptor());
}

// The instance at the other end is this user's: a pipe of that name made by
// another account is never told anything.
bool serverIsThisUsers(const QLocalSocket& socket)
{
    ULONG pid = 0;
    return GetNamedPipeServerProcessId(pipeOf(socket), &pid) && pid && runsAsThisUser(pid);
}

// A client on this computer running as this user. A remote client is known
// by its computer name: for a local one the call fails (ERROR_PIPE_LOCAL).
// Looked up when needed, since Wine lacks it (and has no remote clients).
bool clientIsThisUsers(const QLocalSocket& socket)
{
    using ComputerName = BOOL(WINAPI*)(HANDLE, LPWSTR, ULONG);
    static const auto computerName = reinterpret_cast<ComputerName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetNamedPipeClientComputerNameW")));
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    if (computerName && computerName(pipeOf(socket), computer, sizeof computer))
        return false;
    ULONG pid = 0;
    return GetNamedPipeClientProcessId(pipeOf(socket), &pid) && pid && runsAsThisUser(pid);
}

// Takes the pipe name before Qt listens on it. The first instance of a pipe
// fixes its security, and Qt would join a pipe another account made first
// (FILE_FLAG_FIRST_PIPE_INSTANCE refuses that). Only this user may open it,
// never over the network (a deny entry for NETWORK logons, and
// PIPE_REJECT_REMOTE_CLIENTS). The handle is closed once Qt's own instances
// stand, which keep the pipe and its security.
HANDLE claimPipeName(const QString& name)
{
    const QString sid = currentUserSid();
    if (sid.isEmpty())
        return INVALID_HANDLE_VALUE;
    const std::wstring sddl = QStringLiteral("D:P(D;;GA;;;NU)(A;;GA;;;%1)").arg(sid).toStdWString();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const std::wstring path = (QStringLiteral("\\\\.\\pipe\\") + name).toStdWString();
    HANDLE pipe = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                   PIPE_UNLIMITED_INSTANCES, 0, 0, 0, &attributes);
    LocalFree(descriptor);
    return pipe;
}

// Windows keeps a background process from raising its window; the launch the
// user just started may hand that right on (AllowSetForegroundWindow), here to
// the process at the other end of the pipe.
void letInstanceComeForward(const QLocalSocket& socket)
{
    ULONG pid = 0;
    if (GetNamedPipeServerProcessId(pipeOf(socket), &pid) && pid)
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
    if (!serverIsThisUsers(socket))
        return false;
    letInstanceComeForward(socket);
#endif
    socket.write(kShowRequest, kShowRequestSize);
    socket.waitForBytesWritten(kGuardWaitMs);
    return true;
}
} // namespace

QString instanceServerName()
{
#ifdef Q_OS_WIN
    // Pipe names are one namespace for the whole computer, and USERNAME is
    // neither unique (a local and a domain "alice") nor fixed (the user sets
    // it): the account's SID is both.
    const QString sid = currentUserSid();
    if (!sid.isEmpty())
        return QStringLiteral("com.tavrin.pellum.app.instance.") + sid.toLower();
#endif
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
    local->setSocketOptions(QLocalServer::UserAccessOption);
#ifdef Q_OS_WIN
    // Another account holding the name leaves this instance deaf to later
    // launches, but the lock still keeps them from starting a second one.
    const HANDLE claim = claimPipeName(path);
    const bool keepLock = claim == INVALID_HANDLE_VALUE || local->listen(path);
    if (claim != INVALID_HANDLE_VALUE)
        CloseHandle(claim);
#else
    const bool keepLock = local->listen(path);
#endif
    if (keepLock && lock)
        QObject::connect(local, &QObject::destroyed, [lock] { delete lock; });
    else
        delete lock; // no guard: later launches start on their own, as they always did
    if (server)
        *server = local;
    else
        delete local;
    return true;
}

void answerShowRequests(QLocalServer* server, QObject* context, const std::function<void()>& show)
{
    QObject::connect(server, &QLocalServer::newConnection, context, [server, show] {
        while (QLocalSocket* client = server->nextPendingConnection()) {
            const auto drop = [client] {
                client->abort();
                client->deleteLater();
            };
#ifdef Q_OS_WIN
            if (!clientIsThisUsers(*client)) {
                drop();
                continue;
            }
#endif
            // A client that stays silent, or opened the pipe only to read,
            // is let go without an answer.
            QTimer::singleShot(kRequestPatienceMs, client, drop);
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QLocalSocket::readyRead, client, [client, show, drop] {
                const QByteArray got = client->peek(kShowRequestSize + 1);
                const QByteArray wanted(kShowRequest, kShowRequestSize);
                if (got.size() < kShowRequestSize && wanted.startsWith(got))
                    return; // the rest is on its way
                const bool wellFormed = got == wanted;
                drop();
                if (wellFormed)
                    show();
            });
        }
    });
}

bool launchedAtLogin(const QStringList& arguments)
{
    return arguments.contains(QLatin1String(kLoginArgument), Qt::CaseSensitive);
}
