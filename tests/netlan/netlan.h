#pragma once

// C++ side of netlan.sh for Qt tests: re-run the test binary inside a fresh
// test LAN, read the LAN's description back, enter one of its namespaces.
// Header-only; needs PELLUM_SOURCE_DIR (set by pellum_add_test).

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace NetLan {

struct Lan {
    QString id, clientNs, clientAddr, broadcast;
    QStringList serverNs, serverAddr;
    bool isValid() const { return !id.isEmpty(); }
};

inline bool isRoot() { return geteuid() == 0; }
inline bool insideLan() { return !qEnvironmentVariableIsEmpty("NETLAN_ID"); }

// The LAN described by the NETLAN_* variables that `netlan.sh run` exports.
inline Lan fromEnvironment()
{
    Lan lan{qEnvironmentVariable("NETLAN_ID"), qEnvironmentVariable("NETLAN_CLIENT_NS"),
            qEnvironmentVariable("NETLAN_CLIENT_ADDR"), qEnvironmentVariable("NETLAN_BROADCAST"), {}, {}};
    for (int i = 1; i <= qEnvironmentVariableIntValue("NETLAN_SERVERS"); ++i) {
        lan.serverNs << qEnvironmentVariable(qPrintable(QStringLiteral("NETLAN_SERVER_NS_%1").arg(i)));
        lan.serverAddr << qEnvironmentVariable(qPrintable(QStringLiteral("NETLAN_SERVER_ADDR_%1").arg(i)));
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
    if (!isRoot())
        return std::fprintf(stderr, "SKIP: the test LAN needs root\n"), 77;
    const QByteArray count = QByteArray::number(servers);
    std::vector<char*> args{const_cast<char*>("bash"), const_cast<char*>(PELLUM_SOURCE_DIR "/tests/netlan/netlan.sh"),
                            const_cast<char*>("run"), const_cast<char*>(count.constData()), const_cast<char*>("--")};
    args.insert(args.end(), argv, argv + argc + 1);   // with argv's closing null
    std::fflush(nullptr);
    execvp("bash", args.data());
    std::perror("netlan: exec bash");
    return 77;
}

// Moves the calling thread into network namespace `ns`. Do it before any
// socket is made; sockets made on other threads stay where they were.
inline bool enter(const QString& ns)
{
    const int fd = ::open(qPrintable(QStringLiteral("/run/netns/") + ns), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

} // namespace NetLan
