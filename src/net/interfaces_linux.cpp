// Interfaces on Linux: the interface list (getifaddrs) for names, flags, addresses and hardware
// addresses, and the link speed from the device driver.
#include "net_os.h"

#include <cstring>

#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/if_packet.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Quorvel::detail {

namespace {

// The link speed from the device driver, asked through a socket of the caller's own network
// namespace (the speed files under /sys describe the namespace that mounted them, which need not
// be ours). A device without a driver answer (loopback, tunnels) has no speed.
unsigned long long LinkSpeed(const std::string &name) {
    if (name.size() >= IFNAMSIZ) return 0;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    ethtool_cmd cmd;
    std::memset(&cmd, 0, sizeof cmd);
    cmd.cmd = ETHTOOL_GSET;
    ifreq req;
    std::memset(&req, 0, sizeof req);
    std::memcpy(req.ifr_name, name.c_str(), name.size());
    req.ifr_data = reinterpret_cast<char *>(&cmd);
    const bool ok = ioctl(fd, SIOCETHTOOL, &req) == 0;
    close(fd);
    return ok ? LinkSpeedBits(ethtool_cmd_speed(&cmd)) : 0;
}

} // namespace

bool PlatformGetAdapters(std::vector<tAdapter> &out) {
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    try {
        // getifaddrs lists the links first, in the kernel's order, then the addresses; an
        // adapter is made at the first entry that names it, so adapters keep the link order.
        for (const ifaddrs *p = list; p; p = p->ifa_next) {
            if (!p->ifa_name) continue;
            tAdapter *a = nullptr;
            for (tAdapter &known : out) {
                if (known.name == p->ifa_name) a = &known;
            }
            if (!a) {
                out.emplace_back();
                a = &out.back();
                a->name = p->ifa_name;
                // RUNNING is the kernel's "operationally up" (carrier present).
                a->up = (p->ifa_flags & IFF_UP) && (p->ifa_flags & IFF_RUNNING);
                a->loopback = (p->ifa_flags & IFF_LOOPBACK) != 0;
                a->pointToPoint = (p->ifa_flags & IFF_POINTOPOINT) != 0;
                if (a->up && !a->loopback) a->txSpeed = a->rxSpeed = LinkSpeed(a->name);
            }
            if (!p->ifa_addr) continue;
            tQV_InetAddress addr;
            std::memset(&addr, 0, sizeof addr);
            if (p->ifa_addr->sa_family == AF_INET) {
                addr.family = eSoctFamilyIPv4;
                std::memcpy(addr.address.bytes,
                            &reinterpret_cast<const sockaddr_in *>(p->ifa_addr)->sin_addr, 4);
            } else if (p->ifa_addr->sa_family == AF_INET6) {
                addr.family = eSoctFamilyIPv6;
                std::memcpy(addr.address.bytes,
                            &reinterpret_cast<const sockaddr_in6 *>(p->ifa_addr)->sin6_addr, 16);
            } else {
                continue;
            }
            a->unicast.push_back(addr);
        }
    } catch (...) {
        freeifaddrs(list);
        throw;
    }
    freeifaddrs(list);
    return true;
}

bool PlatformGetHwAdapters(std::vector<tHwAdapter> &out) {
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    try {
        for (const ifaddrs *p = list; p; p = p->ifa_next) {
            if (!p->ifa_addr || p->ifa_addr->sa_family != AF_PACKET) continue;
            const sockaddr_ll *ll = reinterpret_cast<const sockaddr_ll *>(p->ifa_addr);
            tHwAdapter a;
            a.address.assign(ll->sll_addr, ll->sll_addr + (ll->sll_halen < 8 ? ll->sll_halen : 8));
            // An Ethernet-type device whose address is all zero (a placeholder such as a dummy
            // device) has no hardware address to lend an identifier.
            bool nonZero = false;
            for (unsigned char b : a.address)
                nonZero = nonZero || b != 0;
            a.ethernet = ll->sll_hatype == ARPHRD_ETHER && a.address.size() == 6 && nonZero;
            out.push_back(a);
        }
    } catch (...) {
        freeifaddrs(list);
        throw;
    }
    freeifaddrs(list);
    return true;
}

} // namespace Quorvel::detail
