// libpnlmon_nlfix.so: lets several processes of one testbed (a daemon and
// the processes it starts) receive uevents side by side.
//
// Under the umockdev preload a process's uevent (netlink) socket becomes a
// Unix datagram socket bound to "$UMOCKDEV_DIR/event<fd>"; the preload
// removes an existing file of that name first. Two processes whose uevent
// sockets have the same descriptor number therefore take the name from each
// other, and the loser silently stops seeing plugs and unplugs.
//
// This shim wraps bind(): right after the preload bound the socket it moves
// the name to "event<fd>.<pid>", which umockdev's sender still matches. A
// lock file in the testbed keeps another process's bind (and its removal of
// "event<fd>") out of the window between the two.
//
// Load it before the preload: LD_PRELOAD=.../libpnlmon_nlfix.so:libumockdev-preload.so.0
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using BindFunction = int (*)(int, const struct sockaddr*, socklen_t);

BindFunction NextBind()
{
    static BindFunction next = reinterpret_cast<BindFunction>(dlsym(RTLD_NEXT, "bind"));
    return next;
}

// Gives the socket bound to "<dir>/event<fd>" a name of its own.
void RenameOwnSocket(int fd, const char* dir)
{
    struct sockaddr_un address;
    socklen_t length = sizeof address;
    memset(&address, 0, sizeof address);
    if (getsockname(fd, reinterpret_cast<struct sockaddr*>(&address), &length) != 0 ||
        address.sun_family != AF_UNIX) {
        return;
    }
    char shared[sizeof address.sun_path];
    char own[sizeof address.sun_path];
    int sharedLength = snprintf(shared, sizeof shared, "%s/event%d", dir, fd);
    int ownLength = snprintf(own, sizeof own, "%s.%d", shared, static_cast<int>(getpid()));
    if (sharedLength <= 0 || ownLength <= 0 || static_cast<size_t>(ownLength) >= sizeof own ||
        strcmp(address.sun_path, shared) != 0) {
        return;
    }
    if (rename(shared, own) != 0) {
        fprintf(stderr, "pnlmon_nlfix: cannot rename %s: %s\n", shared, strerror(errno));
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int bind(int fd, const struct sockaddr* address,
                                                            socklen_t length)
{
    BindFunction next = NextBind();
    if (next == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    const char* dir = getenv("UMOCKDEV_DIR");
    if (dir == nullptr || address == nullptr || address->sa_family != AF_NETLINK) {
        return next(fd, address, length);
    }
    char lockPath[4096];
    snprintf(lockPath, sizeof lockPath, "%s/.nlfix.lock", dir);
    int lock = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0) {
        while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    int result = next(fd, address, length);
    int saved = errno;
    if (result == 0) {
        RenameOwnSocket(fd, dir);
    }
    if (lock >= 0) {
        close(lock);
    }
    errno = saved;
    return result;
}
