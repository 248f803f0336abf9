// Host names, forward and reverse resolution, interface addresses and the Ethernet address. The
// platform lists what it knows; the rules of what is kept, in which order, live here.
#include "qv_socket.h"

#include "error_codes.h"
#include "net_os.h"

#include <cstring>
#include <new>

namespace Quorvel {

namespace {

const char kModule[] = "ossocket";

using namespace detail;

std::string LocalHostName() {
    std::string name;
    if (!PlatformGetHostName(name) || name.empty()) name = "localhost";
    return name;
}

// Steps 3 to 6 of a lookup: link-local IPv6 left out, the rest copied in the resolver's order.
// False when memory runs out (nothing is then handed over).
bool SplitAddresses(const std::vector<tQV_InetAddress> &all, unsigned *&ipv4, tQV_Ip6 *&ipv6,
                    unsigned &v4, unsigned &v6) {
    v4 = v6 = 0;
    for (const tQV_InetAddress &a : all) {
        if (a.family == eSoctFamilyIPv4)
            ++v4;
        else if (a.family == eSoctFamilyIPv6 && !IsLinkLocal6(a.address.bytes))
            ++v6;
    }
    unsigned *four = v4 ? new (std::nothrow) unsigned[v4] : nullptr;
    tQV_Ip6 *six = v6 ? new (std::nothrow) tQV_Ip6[v6] : nullptr;
    if ((v4 && !four) || (v6 && !six)) {
        delete[] four;
        delete[] six;
        v4 = v6 = 0;
        return false;
    }
    unsigned i4 = 0, i6 = 0;
    for (const tQV_InetAddress &a : all) {
        if (a.family == eSoctFamilyIPv4) {
            std::memcpy(&four[i4++], a.address.bytes, 4);
        } else if (a.family == eSoctFamilyIPv6 && !IsLinkLocal6(a.address.bytes)) {
            std::memcpy(six[i6++].bytes, a.address.bytes, 16);
        }
    }
    ipv4 = four;
    ipv6 = six;
    return true;
}

unsigned *CopyOut(const std::vector<unsigned> &v) {
    unsigned *out = new (std::nothrow) unsigned[v.size()];
    if (out) std::memcpy(out, v.data(), v.size() * sizeof(unsigned));
    return out;
}

} // namespace

cQV_String osGetHostName() {
    PlatformEnsureSocketService();
    try {
        return cQV_String(LocalHostName().c_str());
    } catch (const std::bad_alloc &) {
        // A name longer than the string's own room could not be copied: no name.
        return cQV_String();
    }
}

unsigned osGetHostAddr(cQV_Error *err, const char *host, unsigned *&ipv4, tQV_Ip6 *&ipv6,
                       unsigned &ipv6Count) {
    ipv4 = nullptr;
    ipv6 = nullptr;
    if (!host) return 0;
    PlatformEnsureSocketService();
    std::vector<tQV_InetAddress> all;
    unsigned v4 = 0, v6 = 0;
    bool ok;
    try {
        ok = PlatformGetAddrInfo(host, all);
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    if (!ok) {
        ipv6Count = 0;
        QV_FAIL(err, kErrResolve, "Failed to get address by host name [%s]. WSAGetLastError()=%d",
                host, PlatformSoctLastError());
        return 0;
    }
    if (!SplitAddresses(all, ipv4, ipv6, v4, v6)) {
        ipv6Count = 0;
        QV_FAIL(err, kErrMemory, "Failed to allocate memory. Requested size:%d",
                static_cast<int>(all.size() * sizeof(tQV_Ip6)));
        return 0;
    }
    ipv6Count = v6;
    return v4 + v6;
}

unsigned osGetLocalHostAddr(unsigned *&ipv4, tQV_Ip6 *&ipv6, unsigned &ipv6Count) {
    ipv4 = nullptr;
    ipv6 = nullptr;
    ipv6Count = 0;
    PlatformEnsureSocketService();
    std::vector<tQV_InetAddress> all;
    unsigned v4 = 0, v6 = 0;
    try {
        if (!PlatformGetAddrInfo(LocalHostName().c_str(), all)) return 0;
    } catch (const std::bad_alloc &) {
        return 0;
    }
    if (!SplitAddresses(all, ipv4, ipv6, v4, v6)) return 0;
    ipv6Count = v6;
    return v4 + v6;
}

unsigned *osGetAddrByHostnameOld(cQV_Error *err, const char *host, unsigned &count) {
    count = 0;
    PlatformEnsureSocketService();
    std::vector<unsigned> found;
    bool ok = false;
    try {
        ok = host && PlatformGetHostByNameOld(host, found) && !found.empty();
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    if (!ok) {
        QV_FAIL(err, kErrResolve, "Failed to get address by host name [%s]. WSAGetLastError()=%d",
                host ? host : "", PlatformSoctLastError());
        return nullptr;
    }
    unsigned *out = CopyOut(found);
    if (!out) {
        // The name did resolve: what failed is the array for its addresses.
        QV_FAIL(err, kErrMemory, "Failed to allocate memory. Requested size:%d",
                static_cast<int>(found.size() * sizeof(unsigned)));
        return nullptr;
    }
    count = static_cast<unsigned>(found.size());
    return out;
}

unsigned *osGetHostAddrOld(unsigned &count) {
    count = 0;
    PlatformEnsureSocketService();
    std::vector<unsigned> found;
    try {
        if (!PlatformGetHostByNameOld(LocalHostName().c_str(), found)) found.clear();
    } catch (const std::bad_alloc &) {
        found.clear();
    }
    if (found.empty()) {
        // The fallback goes straight into its one-element array: no list to grow first.
        const unsigned char loopback[4] = {127, 0, 0, 1};
        unsigned *one = new (std::nothrow) unsigned[1];
        if (!one) return nullptr;
        std::memcpy(one, loopback, 4);
        count = 1;
        return one;
    }
    unsigned *out = CopyOut(found);
    if (out) count = static_cast<unsigned>(found.size());
    return out;
}

cQV_String osGetHostnameByIp(unsigned ip, bool &found) {
    found = false;
    PlatformEnsureSocketService();
    std::string name;
    try {
        found = PlatformGetHostByAddr(ip, name);
    } catch (const std::bad_alloc &) {
        found = false;
    }
    // One string for every outcome, so that it is handed back as it is: a copy of it (the
    // string has no move) could fail and would lose the text.
    cQV_String result;
    if (found) {
        result = name.c_str();
        // A name that could not be copied is not reported found; the dotted form stands in.
        if (result.Length() == name.size()) return result;
        found = false;
    }
    unsigned char b[4];
    std::memcpy(b, &ip, 4);
    result.Format("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return result;
}

int osNetGetInterfaces(tNetInterfaceInfo *&list) {
    list = nullptr;
    // The adapter queries need no socket service (and the identifier generator reads the
    // Ethernet address while the library loads, before any service may start).
    try {
        std::vector<tAdapter> adapters;
        if (!PlatformGetAdapters(adapters)) return 0;
        std::vector<tNetInterfaceInfo> kept = SelectInterfaces(adapters);
        if (kept.empty()) return 0;
        tNetInterfaceInfo *out = new (std::nothrow) tNetInterfaceInfo[kept.size()];
        if (!out) return 0;
        for (size_t i = 0; i < kept.size(); ++i) {
            out[i] = kept[i];
            // A name that could not be copied leaves the element without one: no list then,
            // rather than one with a nameless interface.
            if (out[i].name.Length() != kept[i].name.Length()) {
                delete[] out;
                return 0;
            }
        }
        list = out;
        return static_cast<int>(kept.size());
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

bool osNetGetEtherMAC(unsigned char *mac) {
    if (!mac) return false;
    try {
        std::vector<tHwAdapter> adapters;
        if (!PlatformGetHwAdapters(adapters)) return false;
        return SelectEtherMAC(adapters, mac);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

} // namespace Quorvel
