// Peers made with the system's own socket calls, for testing the library's sockets against
// something that does not share its code. Loopback only.
#pragma once

#include "qv_socket.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace nettest {

#if defined(_WIN32)
using RawSocket = SOCKET;
constexpr RawSocket kNoRaw = INVALID_SOCKET;
inline void RawCloseSocket(RawSocket s) {
    closesocket(s);
}
inline int RawError() {
    return WSAGetLastError();
}
// The test's own calls need the service too; the library starts its own on first use.
inline void RawStart() {
    static const bool started = [] {
        WSADATA d;
        return WSAStartup(MAKEWORD(2, 2), &d) == 0;
    }();
    (void)started;
}
#else
using RawSocket = int;
constexpr RawSocket kNoRaw = -1;
inline void RawCloseSocket(RawSocket s) {
    close(s);
}
inline int RawError() {
    return errno;
}
inline void RawStart() {}
#endif

inline RawSocket ToRaw(unsigned handle) {
    return static_cast<RawSocket>(handle);
}

// The library's address as a system socket address.
inline socklen_t ToSockaddr(const Quorvel::tQV_InetAddress &a, sockaddr_storage &ss) {
    std::memset(&ss, 0, sizeof ss);
    if (a.family == Quorvel::eSoctFamilyIPv6) {
        sockaddr_in6 *s6 = reinterpret_cast<sockaddr_in6 *>(&ss);
        s6->sin6_family = AF_INET6;
        s6->sin6_port = htons(a.port);
        std::memcpy(&s6->sin6_addr, a.address.bytes, 16);
        return sizeof *s6;
    }
    sockaddr_in *s4 = reinterpret_cast<sockaddr_in *>(&ss);
    s4->sin_family = AF_INET;
    s4->sin_port = htons(a.port);
    std::memcpy(&s4->sin_addr, a.address.bytes, 4);
    return sizeof *s4;
}

inline Quorvel::tQV_InetAddress Loopback(Quorvel::eSoctFamily family, unsigned short port = 0) {
    Quorvel::tQV_InetAddress a{};
    Quorvel::osCreateLocalhostIp(family, a);
    a.port = port;
    return a;
}

// The local port a socket is bound to (the library has no call for it).
inline unsigned short LocalPort(RawSocket s) {
    sockaddr_storage ss;
    socklen_t len = sizeof ss;
    if (getsockname(s, reinterpret_cast<sockaddr *>(&ss), &len) != 0) return 0;
    if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in *>(&ss)->sin_port);
}

inline int DomainOf(Quorvel::eSoctFamily family) {
    return family == Quorvel::eSoctFamilyIPv6 ? AF_INET6 : AF_INET;
}

// Bounds every blocking receive on s, so that a test never waits for data that does not come.
inline void RawBoundReceives(RawSocket s, int ms = 10000) {
#if defined(_WIN32)
    const DWORD t = static_cast<DWORD>(ms);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&t), sizeof t);
#else
    timeval t{};
    t.tv_sec = ms / 1000;
    t.tv_usec = (ms % 1000) * 1000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
#endif
}

// Accepts one connection within the bound of its receives.
inline RawSocket RawAccept(RawSocket listener) {
    RawSocket s = accept(listener, nullptr, nullptr);
    if (s != kNoRaw) RawBoundReceives(s);
    return s;
}

// A raw socket bound to loopback on a free port; `port` receives it.
inline RawSocket RawBound(Quorvel::eSoctFamily family, int type, unsigned short &port) {
    RawStart();
    RawSocket s = ::socket(DomainOf(family), type, 0);
    if (s == kNoRaw) return kNoRaw;
    sockaddr_storage ss;
    const socklen_t len = ToSockaddr(Loopback(family), ss);
    if (bind(s, reinterpret_cast<sockaddr *>(&ss), len) != 0) {
        RawCloseSocket(s);
        return kNoRaw;
    }
    port = LocalPort(s);
    RawBoundReceives(s);
    return s;
}

inline RawSocket RawListener(Quorvel::eSoctFamily family, unsigned short &port) {
    RawSocket s = RawBound(family, SOCK_STREAM, port);
    if (s != kNoRaw && listen(s, 16) != 0) {
        RawCloseSocket(s);
        return kNoRaw;
    }
    return s;
}

inline RawSocket RawConnect(Quorvel::eSoctFamily family, unsigned short port) {
    RawStart();
    RawSocket s = ::socket(DomainOf(family), SOCK_STREAM, 0);
    if (s == kNoRaw) return kNoRaw;
    sockaddr_storage ss;
    const socklen_t len = ToSockaddr(Loopback(family, port), ss);
    if (connect(s, reinterpret_cast<sockaddr *>(&ss), len) != 0) {
        RawCloseSocket(s);
        return kNoRaw;
    }
    RawBoundReceives(s);
    return s;
}

// Sends all of data; false on failure.
inline bool RawSendAll(RawSocket s, const std::string &data) {
    size_t done = 0;
    while (done < data.size()) {
        const int n = static_cast<int>(
            ::send(s, data.data() + done, static_cast<int>(data.size() - done), 0));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly n bytes (blocking socket); shorter when the peer closes.
inline std::string RawRecvN(RawSocket s, size_t n) {
    std::string out;
    char buf[4096];
    while (out.size() < n) {
        const size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
        const int got = static_cast<int>(::recv(s, buf, static_cast<int>(want), 0));
        if (got <= 0) break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

// A library socket that closes itself.
struct LibSocket {
    unsigned h = 0;
    LibSocket() = default;
    LibSocket(const LibSocket &) = delete;
    LibSocket &operator=(const LibSocket &) = delete;
    ~LibSocket() { Quorvel::osSoctClose(nullptr, h); }
};

struct RawHolder {
    RawSocket s = kNoRaw;
    explicit RawHolder(RawSocket r = kNoRaw) : s(r) {}
    RawHolder(const RawHolder &) = delete;
    RawHolder &operator=(const RawHolder &) = delete;
    ~RawHolder() {
        if (s != kNoRaw) RawCloseSocket(s);
    }
};

// The part of a message before its error number, and whether a number follows.
inline bool MessageIs(const Quorvel::cQV_Error &err, const std::string &prefix) {
    const std::string text = static_cast<const char *>(err.text);
    if (text.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string rest = text.substr(prefix.size());
    return !rest.empty() && (std::isdigit(static_cast<unsigned char>(rest[0])) || rest[0] == '-');
}

inline long long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

} // namespace nettest
