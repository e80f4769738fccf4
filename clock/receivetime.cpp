#include "receivetime.h"

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>

#include <cstring>

bool enableReceiveStamps(qintptr socketDescriptor)
{
    const int on = 1;
    return socketDescriptor >= 0
        && ::setsockopt(int(socketDescriptor), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;
}

bool peekReceiveAgeNs(qintptr socketDescriptor, qint64* ageNs)
{
    char byte = 0;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    // Peeking leaves the datagram to Qt, whose notifier keeps driving the socket.
    if (::recvmsg(int(socketDescriptor), &msg, MSG_PEEK | MSG_DONTWAIT) < 0)
        return false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const qint64 age = (qint64(now.tv_sec) - qint64(stamp.tv_sec)) * 1000000000LL
            + (qint64(now.tv_nsec) - qint64(stamp.tv_nsec));
        if (stamp.tv_sec == 0 || age < 0)
            return false;   // no stamp, or the clock was set back since it came
        *ageNs = age;
        return true;
    }
    return false;
}

#else

bool enableReceiveStamps(qintptr)
{
    return false;
}

bool peekReceiveAgeNs(qintptr, qint64*)
{
    return false;
}

#endif
