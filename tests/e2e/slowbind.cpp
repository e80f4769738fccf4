// Preloaded into the program: every bind of a local socket takes 300 ms, as
// on a busy machine, so two launches reliably meet inside the claim.
#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" int bind(int fd, const sockaddr* address, socklen_t length)
{
    using Bind = int (*)(int, const sockaddr*, socklen_t);
    static const Bind real = reinterpret_cast<Bind>(dlsym(RTLD_NEXT, "bind"));
    if (address && address->sa_family == AF_UNIX)
        usleep(300000);
    return real(fd, address, length);
}
