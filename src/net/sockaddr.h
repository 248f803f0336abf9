// Conversions between the address record and the system's socket addresses. POSIX and Windows lay
// out sockaddr_in, sockaddr_in6 and addrinfo alike, so both platforms' socket files share these.
// Included only by platform files, after their own socket headers.
#pragma once

#include <cstring>
#include <vector>

#include "net_os.h"
#include "qv_socket.h"

namespace Quorvel::detail {

// Fills ss from addr (IPv6 for family 2, IPv4 otherwise); the length of the address filled in.
inline int ToSockaddr(const tQV_InetAddress &addr, sockaddr_storage &ss) {
    std::memset(&ss, 0, sizeof ss);
    if (addr.family == eSoctFamilyIPv6) {
        sockaddr_in6 &a = reinterpret_cast<sockaddr_in6 &>(ss);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(addr.port);
        std::memcpy(&a.sin6_addr, addr.address.bytes, 16);
        return static_cast<int>(sizeof a);
    }
    sockaddr_in &a = reinterpret_cast<sockaddr_in &>(ss);
    a.sin_family = AF_INET;
    a.sin_port = htons(addr.port);
    std::memcpy(&a.sin_addr, addr.address.bytes, 4);
    return static_cast<int>(sizeof a);
}

// The record of an IPv4 or IPv6 socket address; family none for any other.
inline void FromSockaddr(const sockaddr_storage &ss, tQV_InetAddress &addr) {
    if (ss.ss_family == AF_INET) {
        const sockaddr_in &a = reinterpret_cast<const sockaddr_in &>(ss);
        addr.family = eSoctFamilyIPv4;
        std::memcpy(addr.address.bytes, &a.sin_addr, 4);
        addr.port = ntohs(a.sin_port);
    } else if (ss.ss_family == AF_INET6) {
        const sockaddr_in6 &a = reinterpret_cast<const sockaddr_in6 &>(ss);
        addr.family = eSoctFamilyIPv6;
        std::memcpy(addr.address.bytes, &a.sin6_addr, 16);
        addr.port = ntohs(a.sin6_port);
    } else {
        addr.family = eSoctFamilyNone;
    }
}

// The level and name under which the system knows a socket option.
inline void OptionLevel(eSoctOption option, int &level, int &name) {
    switch (option) {
    case eOptSoError:
        level = SOL_SOCKET, name = SO_ERROR;
        break;
    case eOptTcpNoDelay:
        level = IPPROTO_TCP, name = TCP_NODELAY;
        break;
    case eOptReuseAddr:
        level = SOL_SOCKET, name = SO_REUSEADDR;
        break;
    case eOptV6Only:
        level = IPPROTO_IPV6, name = IPV6_V6ONLY;
        break;
    }
}

inline bool IsInetFamily(eSoctFamily f) {
    return f == eSoctFamilyIPv4 || f == eSoctFamilyIPv6;
}

// Appends the IPv4 and IPv6 addresses of a resolver answer to out, in its order, and releases the
// answer (also when out cannot grow, whose bad_alloc goes on to the caller).
inline void TakeAddrinfo(addrinfo *res, std::vector<tQV_InetAddress> &out) {
    for (const addrinfo *p = res; p; p = p->ai_next) {
        tQV_InetAddress a;
        std::memset(&a, 0, sizeof a);
        if (p->ai_family == AF_INET && p->ai_addrlen >= sizeof(sockaddr_in)) {
            a.family = eSoctFamilyIPv4;
            std::memcpy(a.address.bytes, &reinterpret_cast<sockaddr_in *>(p->ai_addr)->sin_addr, 4);
        } else if (p->ai_family == AF_INET6 && p->ai_addrlen >= sizeof(sockaddr_in6)) {
            a.family = eSoctFamilyIPv6;
            std::memcpy(a.address.bytes, &reinterpret_cast<sockaddr_in6 *>(p->ai_addr)->sin6_addr,
                        16);
        } else {
            continue;
        }
        try {
            out.push_back(a);
        } catch (...) {
            freeaddrinfo(res);
            throw;
        }
    }
    freeaddrinfo(res);
}

} // namespace Quorvel::detail
