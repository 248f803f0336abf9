// Pure helpers of resolution and interfaces: the filtering rules over what the platform lists,
// and the link speed as the kernel reports it. Shared by every platform and tested on samples.
#include "net_os.h"

#include <cstring>
#include <new>

namespace Quorvel::detail {

bool IsLinkLocal6(const unsigned char *bytes) {
    return bytes[0] == 0xFE && bytes[1] == 0x80;
}

std::vector<tNetInterfaceInfo> SelectInterfaces(const std::vector<tAdapter> &adapters) {
    const auto kept = [](const tAdapter &a, const tQV_InetAddress &addr) {
        if (!a.up || a.loopback) return false;
        if (addr.family != eSoctFamilyIPv4 && addr.family != eSoctFamilyIPv6) return false;
        return !(addr.family == eSoctFamilyIPv6 && IsLinkLocal6(addr.address.bytes));
    };
    size_t count = 0;
    for (const tAdapter &a : adapters)
        for (const tQV_InetAddress &addr : a.unicast)
            count += kept(a, addr) ? 1 : 0;
    // The elements are made in place: a name string that cannot be copied is lost without a
    // word, so the list is never grown by copying them.
    std::vector<tNetInterfaceInfo> out;
    out.reserve(count);
    for (const tAdapter &a : adapters) {
        const unsigned long long speed = a.txSpeed < a.rxSpeed ? a.txSpeed : a.rxSpeed;
        for (const tQV_InetAddress &addr : a.unicast) {
            if (!kept(a, addr)) continue;
            tNetInterfaceInfo &info = out.emplace_back();
            info.name = a.name.c_str();
            if (info.name.Length() != a.name.size()) throw std::bad_alloc();
            info.address.family = addr.family;
            std::memcpy(info.address.address.bytes, addr.address.bytes, 16);
            if (addr.family == eSoctFamilyIPv4) std::memset(info.address.address.bytes + 4, 0, 12);
            info.address.port = 0;
            info.flags = a.pointToPoint ? kNetInterfacePPP : 0;
            info.speed = static_cast<unsigned>(speed & 0xFFFFFFFFull);
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
