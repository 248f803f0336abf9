// Pure helpers of resolution and interfaces: the filtering rules over what the platform lists,
// and the link speed as the kernel reports it. Shared by every platform and tested on samples.
#include "net_os.h"

#include <cstring>

namespace Quorvel::detail {

bool IsLinkLocal6(const unsigned char *bytes) {
    return bytes[0] == 0xFE && bytes[1] == 0x80;
}

std::vector<tNetInterfaceInfo> SelectInterfaces(const std::vector<tAdapter> &adapters) {
    std::vector<tNetInterfaceInfo> out;
    for (const tAdapter &a : adapters) {
        if (!a.up || a.loopback) continue;
        const unsigned long long speed = a.txSpeed < a.rxSpeed ? a.txSpeed : a.rxSpeed;
        for (const tQV_InetAddress &addr : a.unicast) {
            if (addr.family != eSoctFamilyIPv4 && addr.family != eSoctFamilyIPv6) continue;
            if (addr.family == eSoctFamilyIPv6 && IsLinkLocal6(addr.address.bytes)) continue;
            tNetInterfaceInfo info;
            info.name = a.name.c_str();
            info.address.family = addr.family;
            std::memcpy(info.address.address.bytes, addr.address.bytes, 16);
            if (addr.family == eSoctFamilyIPv4) std::memset(info.address.address.bytes + 4, 0, 12);
            info.address.port = 0;
            info.flags = a.pointToPoint ? kNetInterfacePPP : 0;
            info.speed = static_cast<unsigned>(speed & 0xFFFFFFFFull);
            out.push_back(info);
        }
    }
    return out;
}

bool SelectEtherMAC(const std::vector<tHwAdapter> &adapters, unsigned char *mac) {
    for (const tHwAdapter &a : adapters) {
        if (!a.ethernet) continue;
        const size_t n = a.address.size() < 6 ? a.address.size() : 6;
        if (n) std::memcpy(mac, a.address.data(), n);
        return true;
    }
    return false;
}

unsigned long long LinkSpeedBits(unsigned mbits) {
    // 0 and all bits set are the kernel's "unknown" (no link, or a device that cannot tell).
    if (mbits == 0 || mbits == 0xFFFFFFFFu) return 0;
    return static_cast<unsigned long long>(mbits) * 1000000ull;
}

} // namespace Quorvel::detail
