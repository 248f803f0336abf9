// qvos resolve and qvos ifaces: what the resolver and the interface list give this machine; and
// the network lines of qvos info.
#include <cstdio>
#include <cstring>

#include "qv_os.h"
#include "qvos.h"

using namespace Quorvel;

namespace {

// IPv4 dotted, IPv6 as eight full colon groups (a form osParseIpAddress reads back).
cQV_String AddressText(const tQV_InetAddress &a) {
    if (a.family == eSoctFamilyIPv4) return EncodeIpAddress(a);
    tQV_InetAddress noPort = a;
    noPort.port = 0;
    cQV_String s = osGetIpString(noPort);
    s[static_cast<int>(s.Length()) - 2] = '\0'; // drop the ":0" of the port
    return s;
}

tQV_InetAddress FromV4(unsigned v) {
    tQV_InetAddress a{};
    a.family = eSoctFamilyIPv4;
    std::memcpy(a.address.bytes, &v, 4);
    return a;
}

tQV_InetAddress FromV6(const tQV_Ip6 &v) {
    tQV_InetAddress a{};
    a.family = eSoctFamilyIPv6;
    a.address = v;
    return a;
}

// Prints "family address name" lines; false when the name gives no address.
bool PrintAddresses(std::FILE *out, const char *name, const char *indent, bool showName) {
    unsigned *v4 = nullptr;
    tQV_Ip6 *v6 = nullptr;
    unsigned v6Count = 0;
    cQV_Error err;
    const unsigned total = osGetHostAddr(&err, name, v4, v6, v6Count);
    if (err.IsError()) {
        std::fprintf(stderr, "qvos resolve: %s\n", static_cast<const char *>(err.text));
        return false;
    }
    for (unsigned i = 0; i < total - v6Count; ++i) {
        std::fprintf(out, "%sIPv4 %s%s%s\n", indent,
                     static_cast<const char *>(AddressText(FromV4(v4[i]))), showName ? " " : "",
                     showName ? name : "");
    }
    for (unsigned i = 0; i < v6Count; ++i) {
        std::fprintf(out, "%sIPv6 %s%s%s\n", indent,
                     static_cast<const char *>(AddressText(FromV6(v6[i]))), showName ? " " : "",
                     showName ? name : "");
    }
    delete[] v4;
    delete[] v6;
    if (total == 0) {
        std::fprintf(stderr, "qvos resolve: no address for [%s]\n", name);
        return false;
    }
    return true;
}

int Resolve(int argc, char **argv) {
    if (argc < 2) return qvos::UsageError("resolve");
    int code = qvos::kOk;
    for (int i = 1; i < argc; ++i) {
        if (!PrintAddresses(stdout, argv[i], "", true)) code = qvos::kNotFound;
    }
    return code;
}

int Ifaces(int argc, char **) {
    if (argc != 1) return qvos::UsageError("ifaces");
    tNetInterfaceInfo *list = nullptr;
    const int n = osNetGetInterfaces(list);
    for (int i = 0; i < n; ++i) {
        std::printf("%s %s %s %u\n", static_cast<const char *>(list[i].name),
                    static_cast<const char *>(AddressText(list[i].address)),
                    list[i].flags & kNetInterfacePPP ? "ppp" : "-", list[i].speed);
    }
    delete[] list;
    return qvos::kOk;
}

void NetInfo(std::FILE *out) {
    const cQV_String host = osGetHostName();
    std::fprintf(out, "network:\n");
    std::fprintf(out, "  host name          %s\n", static_cast<const char *>(host));
    unsigned *v4 = nullptr;
    tQV_Ip6 *v6 = nullptr;
    unsigned v6Count = 0;
    const unsigned total = osGetLocalHostAddr(v4, v6, v6Count);
    for (unsigned i = 0; i < total - v6Count; ++i)
        std::fprintf(out, "  host address       %s\n",
                     static_cast<const char *>(AddressText(FromV4(v4[i]))));
    for (unsigned i = 0; i < v6Count; ++i)
        std::fprintf(out, "  host address       %s\n",
                     static_cast<const char *>(AddressText(FromV6(v6[i]))));
    if (total == 0) std::fprintf(out, "  host address       none\n");
    delete[] v4;
    delete[] v6;
    unsigned char mac[6];
    if (osNetGetEtherMAC(mac)) {
        std::fprintf(out, "  Ethernet address   %02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1],
                     mac[2], mac[3], mac[4], mac[5]);
    } else {
        std::fprintf(out, "  Ethernet address   none\n");
    }
}

QVOS_COMMAND("resolve", "resolve NAME...      every address of each name: family, address, name",
             Resolve);
QVOS_COMMAND("ifaces",
             "ifaces               active interface addresses: name, address, flags, "
             "speed in bit/s",
             Ifaces);
QVOS_INFO(NetInfo, 70);

} // namespace
