#pragma once

// C++ side of netlan.sh for Qt tests: re-run the test binary inside a fresh
// test LAN, read the LAN's description back, enter one of its namespaces.
// Header-only; needs PELLUM_SOURCE_DIR (set by pellum_add_test).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace NetLan {

struct Lan {
    QString id;
    QString bridgeNs;
    QString clientNs;
    QString clientAddr;
    QString broadcast;
    QStringList serverNs;
    QStringList serverAddr;
    bool isValid() const { return !id.isEmpty(); }
};

inline QString scriptPath()
{
    return QStringLiteral(PELLUM_SOURCE_DIR "/tests/netlan/netlan.sh");
}

inline bool isRoot() { return geteuid() == 0; }

inline bool insideLan() { return !qEnvironmentVariableIsEmpty("NETLAN_ID"); }

// The LAN described by the NETLAN_* variables that `netlan.sh run` exports.
inline Lan fromEnvironment()
{
    Lan lan;
    lan.id = qEnvironmentVariable("NETLAN_ID");
    lan.bridgeNs = qEnvironmentVariable("NETLAN_BRIDGE_NS");
    lan.clientNs = qEnvironmentVariable("NETLAN_CLIENT_NS");
    lan.clientAddr = qEnvironmentVariable("NETLAN_CLIENT_ADDR");
    lan.broadcast = qEnvironmentVariable("NETLAN_BROADCAST");
    const int servers = qEnvironmentVariableIntValue("NETLAN_SERVERS");
    for (int i = 1; i <= servers; ++i) {
        lan.serverNs << qEnvironmentVariable(QByteArray("NETLAN_SERVER_NS_") + QByteArray::number(i));
        lan.serverAddr << qEnvironmentVariable(QByteArray("NETLAN_SERVER_ADDR_") + QByteArray::number(i));
    }
    return lan;
}

// Call first thing in main(). Outside a LAN: replaces this process with
// `netlan.sh run <servers> -- <this binary> <args>` and never returns,
// unless that is impossible (returns 77: not root, or exec failed).
// Inside the LAN: returns -1 and main() goes on.
inline int reexecInside(int argc, char** argv, int servers)
{
    if (insideLan())
        return -1;
    if (!isRoot()) {
        std::fprintf(stderr, "SKIP: the test LAN needs root\n");
        return 77;
    }
    const QByteArray script = scriptPath().toLocal8Bit();
    const QByteArray count = QByteArray::number(servers);
    std::vector<char*> args;
    args.push_back(const_cast<char*>("bash"));
    args.push_back(const_cast<char*>(script.constData()));
    args.push_back(const_cast<char*>("run"));
    args.push_back(const_cast<char*>(count.constData()));
    args.push_back(const_cast<char*>("--"));
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    execvp("bash", args.data());
    std::perror("netlan: exec bash");
    return 77;
}

// Moves the calling thread into network namespace `ns`. Do it before any
// socket is made; sockets made on other threads stay where they were.
inline bool enter(const QString& ns)
{
    const QByteArray path = QByteArray("/run/netns/") + ns.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return ok;
}

// Program and arguments that start `program` inside namespace `ns`
// (for QProcess::start("ip", inNamespace(...))).
inline QStringList inNamespace(const QString& ns, const QString& program, const QStringList& args = {})
{
    return QStringList{QStringLiteral("netns"), QStringLiteral("exec"), ns, program} + args;
}

} // namespace NetLan
