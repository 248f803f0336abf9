// Name lookups on POSIX, with the reentrant calls only: any thread may resolve at any time.
#include "net_os.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

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
        // The resolver's own code is what tells the reasons apart; errno only for EAI_SYSTEM.
        if (rc != EAI_SYSTEM) errno = rc;
        return false;
    }
    TakeAddrinfo(res, out);
    return true;
}

bool PlatformGetHostByNameOld(const char *host, std::vector<unsigned> &out) {
    hostent entry;
    hostent *result = nullptr;
    int herr = 0;
    std::vector<char> buf(2048);
    for (;;) {
        const int rc = gethostbyname_r(host, &entry, buf.data(), buf.size(), &result, &herr);
        if (rc == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (rc != 0) {
            errno = rc;
            return false;
        }
        break;
    }
    if (!result) {
        errno = herr;
        return false;
    }
    if (result->h_addrtype != AF_INET || result->h_length != 4) {
        errno = EAFNOSUPPORT;
        return false;
    }
    for (char **p = result->h_addr_list; *p; ++p) {
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
