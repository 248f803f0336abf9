// Sockets on POSIX. The handle is the descriptor number itself, never 0; every descriptor is
// close-on-exec from the moment it exists, and sending never raises SIGPIPE. The socket set is
// waited on with poll, which has no limit on descriptor numbers.
#include "net_os.h"

#include "library.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// After the system's socket headers, whose types it uses.
#include "sockaddr.h"

namespace Quorvel::detail {

namespace {

// A handle above INT_MAX cannot be a descriptor; refuse it as the kernel refuses a bad one.
bool ToFd(unsigned socket, int &fd) {
    if (socket == 0 || socket > static_cast<unsigned>(INT_MAX)) {
        errno = EBADF;
        return false;
    }
    fd = static_cast<int>(socket);
    return true;
}

// Handle 0 means "no socket": a descriptor that the kernel gives out as 0 (standard input was
// closed) moves to the lowest free number above it, close-on-exec.
bool KeepOffZero(int &fd) {
    if (fd != 0) return true;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    const int e = errno;
    close(fd);
    if (moved < 0) {
        errno = e;
        return false;
    }
    fd = moved;
    return true;
}

long long NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

// POSIX has no socket service to start.
void InitSocketService() {}
void FiniSocketService() {}
void PlatformEnsureSocketService() {}

int PlatformSoctLastError() {
    return errno;
}

bool PlatformSoctIsWouldBlock(int e) {
    return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS;
}

bool PlatformSoctIsInUse(int e) {
    return e == EADDRINUSE;
}

bool PlatformSoctCreate(eSoctFamily family, eSoctType type, unsigned &socket) {
    const int domain = family == eSoctFamilyIPv6 ? AF_INET6 : AF_INET;
    const bool stream = type == eSoctTypeStream;
    int fd = ::socket(domain, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC,
                      stream ? IPPROTO_TCP : IPPROTO_UDP);
    if (fd < 0 || !KeepOffZero(fd)) return false;
    socket = static_cast<unsigned>(fd);
    return true;
}

bool PlatformSoctClose(unsigned socket) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    // Linux releases the descriptor even when close reports EINTR: retrying could close a
    // descriptor another thread has been given meanwhile.
    return close(fd) == 0 || errno == EINTR;
}

bool PlatformSoctShutdown(unsigned socket, eSoctShutdownMode mode) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    const int how = mode == eSoctShutdownSend   ? SHUT_WR
                    : mode == eSoctShutdownRecv ? SHUT_RD
                                                : SHUT_RDWR;
    return shutdown(fd, how) == 0;
}

bool PlatformSoctSetNonblock(unsigned socket, bool on) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    return fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

bool PlatformSoctBind(unsigned socket, const tQV_InetAddress &addr) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    sockaddr_storage ss;
    const socklen_t len = ToSockaddr(addr, ss);
    return bind(fd, reinterpret_cast<sockaddr *>(&ss), len) == 0;
}

bool PlatformSoctListen(unsigned socket, int backlog) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    return listen(fd, backlog) == 0;
}

bool PlatformSoctAccept(unsigned listener, unsigned &accepted, tQV_InetAddress *peer) {
    int fd;
    if (!ToFd(listener, fd)) return false;
    sockaddr_storage ss;
    socklen_t len = sizeof ss;
    int s;
    do {
        s = accept4(fd, reinterpret_cast<sockaddr *>(&ss), &len, SOCK_CLOEXEC);
    } while (s < 0 && errno == EINTR);
    if (s < 0 || !KeepOffZero(s)) return false;
    accepted = static_cast<unsigned>(s);
    if (peer) FromSockaddr(ss, *peer);
    return true;
}

bool PlatformSoctConnect(unsigned socket, const tQV_InetAddress &addr) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    // Linux takes a connect to family 0 as "dissolve the association": refuse it instead.
    if (!IsInetFamily(addr.family)) {
        errno = EAFNOSUPPORT;
        return false;
    }
    sockaddr_storage ss;
    const socklen_t len = ToSockaddr(addr, ss);
    if (connect(fd, reinterpret_cast<sockaddr *>(&ss), len) == 0) return true;
    // An interrupted connect goes on in the background, like a non-blocking one.
    if (errno == EINTR) errno = EINPROGRESS;
    return false;
}

int PlatformSoctRecv(unsigned socket, unsigned char *buffer, int size) {
    int fd;
    if (!ToFd(socket, fd)) return -1;
    if (size < 0) {
        errno = EINVAL;
        return -1;
    }
    ssize_t n;
    do {
        n = recv(fd, buffer, static_cast<size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int PlatformSoctSend(unsigned socket, const unsigned char *data, int size) {
    int fd;
    if (!ToFd(socket, fd)) return -1;
    if (size < 0) {
        errno = EINVAL;
        return -1;
    }
    ssize_t n;
    do {
        n = send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int PlatformSoctRecvFrom(unsigned socket, unsigned char *buffer, unsigned size,
                         tQV_InetAddress &from) {
    int fd;
    if (!ToFd(socket, fd)) return -1;
    if (size > static_cast<unsigned>(INT_MAX)) size = static_cast<unsigned>(INT_MAX);
    sockaddr_storage ss;
    socklen_t len = sizeof ss;
    ssize_t n;
    do {
        n = recvfrom(fd, buffer, size, 0, reinterpret_cast<sockaddr *>(&ss), &len);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) FromSockaddr(ss, from);
    return static_cast<int>(n);
}

int PlatformSoctSendTo(unsigned socket, const unsigned char *data, int size,
                       const tQV_InetAddress &to) {
    int fd;
    if (!ToFd(socket, fd)) return -1;
    // Without this a family-0 address would send to a connected socket's peer.
    if (!IsInetFamily(to.family)) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    if (size < 0) {
        errno = EINVAL;
        return -1;
    }
    sockaddr_storage ss;
    const socklen_t len = ToSockaddr(to, ss);
    ssize_t n;
    do {
        n = sendto(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL,
                   reinterpret_cast<sockaddr *>(&ss), len);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

bool PlatformSoctGetPeerName(unsigned socket, tQV_InetAddress &peer) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    sockaddr_storage ss;
    socklen_t len = sizeof ss;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&ss), &len) != 0) return false;
    FromSockaddr(ss, peer);
    return true;
}

bool PlatformSockGetReadSize(unsigned socket, unsigned &size) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0) return false;
    size = static_cast<unsigned>(n);
    return true;
}

bool PlatformSoctGetOpt(unsigned socket, eSoctOption option, int &value) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    int level = 0, name = 0;
    OptionLevel(option, level, name);
    int v = 0;
    socklen_t len = sizeof v;
    if (getsockopt(fd, level, name, &v, &len) != 0) return false;
    value = v;
    return true;
}

bool PlatformSoctSetOpt(unsigned socket, eSoctOption option, int value) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    int level = 0, name = 0;
    OptionLevel(option, level, name);
    return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

bool PlatformSoctSetLinger(unsigned socket, bool on, int seconds) {
    int fd;
    if (!ToFd(socket, fd)) return false;
    linger l;
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    return setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0;
}

// One poll entry per membership: a socket in two sets appears twice (poll allows it), which keeps
// building the list linear in the number of handles.
int PlatformSoctSelect(tSocketSet *read, tSocketSet *write, tSocketSet *except, unsigned timeout) {
    tSocketSet *sets[3] = {read, write, except};
    const short events[3] = {POLLIN, POLLOUT, POLLPRI};
    // What counts as ready for each set, as select reports it: a hang-up or an error makes a
    // socket readable and writable.
    const short ready[3] = {POLLIN | POLLHUP | POLLERR, POLLOUT | POLLHUP | POLLERR, POLLPRI};
    size_t total = 0;
    for (tSocketSet *s : sets)
        total += s ? s->count : 0;
    std::vector<pollfd> fds;
    try {
        fds.resize(total);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    size_t k = 0;
    for (int i = 0; i < 3; ++i) {
        if (!sets[i]) continue;
        for (unsigned h = 0; h < sets[i]->count; ++h) {
            int fd;
            if (!ToFd(sets[i]->handles[h], fd)) return -1;
            fds[k].fd = fd;
            fds[k].events = events[i];
            fds[k].revents = 0;
            ++k;
        }
    }
    // A signal does not shorten the wait: poll is restarted with what is left of the time.
    const bool forever = timeout == 0xFFFFFFFFu;
    const long long deadline = forever ? 0 : NowMs() + timeout;
    int n;
    for (;;) {
        int wait = -1;
        if (!forever) {
            const long long left = deadline - NowMs();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        n = poll(fds.data(), fds.size(), wait);
        if (n >= 0 || errno != EINTR) break;
    }
    if (n < 0) return -1;
    for (const pollfd &p : fds) {
        if (p.revents & POLLNVAL) {
            errno = EBADF; // select refuses a set that holds a closed descriptor
            return -1;
        }
    }
    int count = 0;
    k = 0;
    for (int i = 0; i < 3; ++i) {
        if (!sets[i]) continue;
        unsigned kept = 0;
        for (unsigned h = 0; h < sets[i]->count; ++h, ++k) {
            if (fds[k].revents & ready[i]) sets[i]->handles[kept++] = sets[i]->handles[h];
        }
        sets[i]->count = kept;
        count += static_cast<int>(kept);
    }
    return count;
}

} // namespace Quorvel::detail
