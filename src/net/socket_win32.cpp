// Sockets on Windows: Winsock 2.2. The socket set holds 2048 sockets, so the platform's set is
// sized to match before its header is read. The service starts once, on the first call that
// needs it, never while the loader runs the library's initialisers.
#define FD_SETSIZE 2048
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "library.h"
#include "net_os.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

// After the system's socket headers, whose types it uses.
#include "sockaddr.h"

namespace Quorvel::detail {

static_assert(FD_SETSIZE == kSocketSetSize, "the platform's socket set must hold every socket");

namespace {

INIT_ONCE g_serviceOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK StartService(PINIT_ONCE, PVOID, PVOID *) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        // Without the service no socket call can work; the process ends at once.
        ExitProcess(static_cast<UINT>(-1));
    }
    return TRUE;
}

// The handle is 32 bits wide while a SOCKET is pointer-sized. Kernel handles fit in 32 bits,
// but a value that did not (or a 0, which means "no socket") is closed and refused rather than
// cut down to another socket's number.
bool ToHandle(SOCKET s, unsigned &handle) {
    if (s == 0 || s > static_cast<SOCKET>(UINT_MAX)) {
        closesocket(s);
        WSASetLastError(WSAEMFILE);
        return false;
    }
    handle = static_cast<unsigned>(s);
    return true;
}

SOCKET ToSocket(unsigned handle) {
    return static_cast<SOCKET>(handle);
}

} // namespace

void InitSocketService() {
    // Nothing here: WSAStartup may not run under the loader lock (see library.cpp).
}

void FiniSocketService() {
    // WSACleanup may not run under the loader lock either, where this unload step runs: at a
    // process exit the system ends the service with the process, and after a FreeLibrary the
    // service keeps its one reference until then (see library.cpp).
}

void PlatformEnsureSocketService() {
    InitOnceExecuteOnce(&g_serviceOnce, StartService, nullptr, nullptr);
}

int PlatformSoctLastError() {
    return WSAGetLastError();
}

bool PlatformSoctIsWouldBlock(int e) {
    return e == WSAEWOULDBLOCK; // also how a non-blocking connect under way is told
}

bool PlatformSoctIsInUse(int e) {
    return e == WSAEADDRINUSE;
}

bool PlatformSoctCreate(eSoctFamily family, eSoctType type, unsigned &socket) {
    const bool stream = type == eSoctTypeStream;
    // Not inheritable from the first moment, so that no child started meanwhile by any code in
    // the process holds the socket; overlapped as socket() makes it.
    SOCKET s = WSASocketW(family == eSoctFamilyIPv6 ? AF_INET6 : AF_INET,
                          stream ? SOCK_STREAM : SOCK_DGRAM, stream ? IPPROTO_TCP : IPPROTO_UDP,
                          nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return false;
    return ToHandle(s, socket);
}

bool PlatformSoctClose(unsigned socket) {
    return closesocket(ToSocket(socket)) == 0;
}

bool PlatformSoctShutdown(unsigned socket, eSoctShutdownMode mode) {
    const int how = mode == eSoctShutdownSend   ? SD_SEND
                    : mode == eSoctShutdownRecv ? SD_RECEIVE
                                                : SD_BOTH;
    return shutdown(ToSocket(socket), how) == 0;
}

bool PlatformSoctSetNonblock(unsigned socket, bool on) {
    u_long v = on ? 1 : 0;
    return ioctlsocket(ToSocket(socket), FIONBIO, &v) == 0;
}

bool PlatformSoctBind(unsigned socket, const tQV_InetAddress &addr) {
    sockaddr_storage ss;
    const int len = ToSockaddr(addr, ss);
    return bind(ToSocket(socket), reinterpret_cast<sockaddr *>(&ss), len) == 0;
}

bool PlatformSoctListen(unsigned socket, int backlog) {
    return listen(ToSocket(socket), backlog) == 0;
}

bool PlatformSoctAccept(unsigned listener, unsigned &accepted, tQV_InetAddress *peer) {
    sockaddr_storage ss;
    int len = sizeof ss;
    SOCKET s = accept(ToSocket(listener), reinterpret_cast<sockaddr *>(&ss), &len);
    if (s == INVALID_SOCKET) return false;
    // An accepted socket is made inheritable whatever the listener is; the system has no accept
    // that makes it otherwise in one step.
    if (!SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0)) {
        const int e = static_cast<int>(GetLastError());
        closesocket(s);
        WSASetLastError(e);
        return false;
    }
    if (!ToHandle(s, accepted)) return false;
    if (peer) FromSockaddr(ss, *peer);
    return true;
}

bool PlatformSoctConnect(unsigned socket, const tQV_InetAddress &addr) {
    if (!IsInetFamily(addr.family)) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return false;
    }
    sockaddr_storage ss;
    const int len = ToSockaddr(addr, ss);
    return connect(ToSocket(socket), reinterpret_cast<sockaddr *>(&ss), len) == 0;
}

int PlatformSoctRecv(unsigned socket, unsigned char *buffer, int size) {
    const int n = recv(ToSocket(socket), reinterpret_cast<char *>(buffer), size, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int PlatformSoctSend(unsigned socket, const unsigned char *data, int size) {
    const int n = send(ToSocket(socket), reinterpret_cast<const char *>(data), size, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int PlatformSoctRecvFrom(unsigned socket, unsigned char *buffer, unsigned size,
                         tQV_InetAddress &from) {
    if (size > static_cast<unsigned>(INT_MAX)) size = static_cast<unsigned>(INT_MAX);
    sockaddr_storage ss;
    int len = sizeof ss;
    const int n = recvfrom(ToSocket(socket), reinterpret_cast<char *>(buffer),
                           static_cast<int>(size), 0, reinterpret_cast<sockaddr *>(&ss), &len);
    if (n == SOCKET_ERROR) return -1;
    FromSockaddr(ss, from);
    return n;
}

int PlatformSoctSendTo(unsigned socket, const unsigned char *data, int size,
                       const tQV_InetAddress &to) {
    if (!IsInetFamily(to.family)) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return -1;
    }
    sockaddr_storage ss;
    const int len = ToSockaddr(to, ss);
    const int n = sendto(ToSocket(socket), reinterpret_cast<const char *>(data), size, 0,
                         reinterpret_cast<sockaddr *>(&ss), len);
    return n == SOCKET_ERROR ? -1 : n;
}

bool PlatformSoctGetPeerName(unsigned socket, tQV_InetAddress &peer) {
    sockaddr_storage ss;
    int len = sizeof ss;
    if (getpeername(ToSocket(socket), reinterpret_cast<sockaddr *>(&ss), &len) != 0) return false;
    FromSockaddr(ss, peer);
    return true;
}

bool PlatformSockGetReadSize(unsigned socket, unsigned &size) {
    u_long n = 0;
    if (ioctlsocket(ToSocket(socket), FIONREAD, &n) != 0) return false;
    size = static_cast<unsigned>(n);
    return true;
}

bool PlatformSoctGetOpt(unsigned socket, eSoctOption option, int &value) {
    int level = 0, name = 0;
    OptionLevel(option, level, name);
    int v = 0;
    int len = sizeof v;
    if (getsockopt(ToSocket(socket), level, name, reinterpret_cast<char *>(&v), &len) != 0)
        return false;
    value = v;
    return true;
}

bool PlatformSoctSetOpt(unsigned socket, eSoctOption option, int value) {
    int level = 0, name = 0;
    OptionLevel(option, level, name);
    return setsockopt(ToSocket(socket), level, name, reinterpret_cast<const char *>(&value),
                      sizeof value) == 0;
}

bool PlatformSoctSetLinger(unsigned socket, bool on, int seconds) {
    linger l;
    l.l_onoff = static_cast<u_short>(on ? 1 : 0);
    l.l_linger = static_cast<u_short>(seconds);
    return setsockopt(ToSocket(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&l),
                      sizeof l) == 0;
}

// The platform's sets hold pointer-sized sockets: the 32-bit handles are widened on the way in
// and the ready ones narrowed back on the way out, in the order select leaves them.
int PlatformSoctSelect(tSocketSet *read, tSocketSet *write, tSocketSet *except, unsigned timeout) {
    tSocketSet *sets[3] = {read, write, except};
    std::unique_ptr<fd_set[]> fds(new (std::nothrow) fd_set[3]);
    if (!fds) {
        WSASetLastError(WSA_NOT_ENOUGH_MEMORY);
        return -1;
    }
    fd_set *platform[3] = {nullptr, nullptr, nullptr};
    for (int i = 0; i < 3; ++i) {
        if (!sets[i]) continue;
        platform[i] = &fds[i];
        platform[i]->fd_count = sets[i]->count;
        for (unsigned h = 0; h < sets[i]->count; ++h)
            platform[i]->fd_array[h] = ToSocket(sets[i]->handles[h]);
    }
    timeval tv;
    timeval *limit = nullptr;
    if (timeout != 0xFFFFFFFFu) {
        tv.tv_sec = static_cast<long>(timeout / 1000);
        tv.tv_usec = static_cast<long>((timeout % 1000) * 1000);
        limit = &tv;
    }
    const int n = select(0, platform[0], platform[1], platform[2], limit);
    if (n == SOCKET_ERROR) return -1;
    for (int i = 0; i < 3; ++i) {
        if (!sets[i]) continue;
        sets[i]->count = platform[i]->fd_count;
        for (unsigned h = 0; h < sets[i]->count; ++h)
            sets[i]->handles[h] = static_cast<unsigned>(platform[i]->fd_array[h]);
    }
    return n;
}

} // namespace Quorvel::detail
