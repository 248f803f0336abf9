// Name lookups on Windows through Winsock. The IPv4-only lookup keeps its result per thread, so
// any thread may call it.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "net_os.h"

#include <cstring>

// After the system's socket headers, whose types it uses.
#include "sockaddr.h"

namespace Quorvel::detail {

bool PlatformGetHostName(std::string &name) {
    char buf[256];
    if (gethostname(buf, 255) != 0) return false;
    buf[255] = '\0';
    name = buf;
    return true;
}

bool PlatformGetAddrInfo(const char *host, std::vector<tQV_InetAddress> &out) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM; // each address once
    addrinfo *res = nullptr;
    const int rc = getaddrinfo(host, nullptr, &hints, &res);
    if (rc != 0) {
        WSASetLastError(rc);
        return false;
    }
    TakeAddrinfo(res, out);
    return true;
}

bool PlatformGetHostByNameOld(const char *host, std::vector<unsigned> &out) {
    const hostent *entry = gethostbyname(host);
    if (!entry) return false;
    if (entry->h_addrtype != AF_INET || entry->h_length != 4) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return false;
    }
    for (char **p = entry->h_addr_list; *p; ++p) {
        unsigned v;
        std::memcpy(&v, *p, 4);
        out.push_back(v);
    }
    return true;
}

bool PlatformGetHostByAddr(unsigned ip, std::string &name) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    std::memcpy(&sa.sin_addr, &ip, 4);
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<sockaddr *>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
        return false;
    name = host;
    return true;
}

} // namespace Quorvel::detail
