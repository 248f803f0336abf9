// The interface and hardware-address rules over adapter lists as the platforms hand them over.
#include "net/net_os.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace Quorvel;
using namespace Quorvel::detail;

namespace {

tQV_InetAddress Addr(const char *text) {
    tQV_InetAddress a{};
    EXPECT_TRUE(osParseIpAddress(a, text, 0, nullptr)) << text;
    return a;
}

tAdapter Adapter(const char *name, bool up, bool loopback, bool ppp, unsigned long long tx,
                 unsigned long long rx, std::vector<const char *> addrs) {
    tAdapter a;
    a.name = name;
    a.up = up;
    a.loopback = loopback;
    a.pointToPoint = ppp;
    a.txSpeed = tx;
    a.rxSpeed = rx;
    for (const char *t : addrs)
        a.unicast.push_back(Addr(t));
    return a;
}

std::string Describe(const std::vector<tNetInterfaceInfo> &v) {
    std::string s;
    for (const tNetInterfaceInfo &i : v) {
        tQV_InetAddress a = i.address;
        s += std::string(i.name) + " " + static_cast<const char *>(EncodeIpAddress(a)) + " " +
             std::to_string(i.flags) + " " + std::to_string(i.speed) + " " +
             std::to_string(i.address.port) + "\n";
    }
    return s;
}

TEST(SelectInterfaces, KeepsUpNonLoopbackWithoutLinkLocal) {
    std::vector<tAdapter> adapters = {
        Adapter("lo", true, true, false, 0, 0, {"127.0.0.1", "::1"}),
        Adapter("eth0", true, false, false, 1000000000ull, 100000000ull,
                {"10.0.0.2", "fe80::1", "2001:db8::2"}),
        Adapter("down0", false, false, false, 1000, 1000, {"10.1.0.2"}),
        Adapter("ppp0", true, false, true, 0, 0, {"192.0.2.9"}),
        // 10 Gbit/s does not fit 32 bits: the low 32 bits are kept.
        Adapter("fast", true, false, false, 10000000000ull, 10000000000ull, {"10.2.0.1"}),
        Adapter("onlylocal", true, false, false, 5, 5, {"fe80::2"}),
    };
    adapters[1].unicast[0].port = 99; // a stray port never reaches the record
    EXPECT_EQ(Describe(SelectInterfaces(adapters)),
              "eth0 10.0.0.2 0 100000000 0\n"
              "eth0 2001-0DB8-0000-0000-0000-0000-0000-0002 0 100000000 0\n"
              "ppp0 192.0.2.9 1 0 0\n"
              "fast 10.2.0.1 0 1410065408 0\n");
    EXPECT_TRUE(SelectInterfaces({}).empty());
    EXPECT_TRUE(SelectInterfaces({adapters[0], adapters[2], adapters[5]}).empty());
}

TEST(SelectInterfaces, IPv4RecordsHaveZeroTail) {
    tAdapter a = Adapter("e", true, false, false, 0, 0, {"1.2.3.4"});
    std::memset(a.unicast[0].address.bytes + 4, 0xEE, 12);
    std::vector<tNetInterfaceInfo> v = SelectInterfaces({a});
    ASSERT_EQ(v.size(), 1u);
    for (int i = 4; i < 16; ++i)
        EXPECT_EQ(v[0].address.address.bytes[i], 0) << i;
}

TEST(SelectEtherMAC, FirstEthernetAdapter) {
    auto hw = [](bool ether, std::vector<unsigned char> bytes) {
        tHwAdapter a;
        a.ethernet = ether;
        a.address = bytes;
        return a;
    };
    unsigned char mac[6];
    std::memset(mac, 0xCC, 6);
    EXPECT_FALSE(SelectEtherMAC({}, mac));
    EXPECT_FALSE(SelectEtherMAC({hw(false, {1, 2, 3, 4, 5, 6})}, mac));
    EXPECT_EQ(mac[0], 0xCC) << "nothing written without an Ethernet adapter";
    ASSERT_TRUE(SelectEtherMAC({hw(false, {9, 9, 9, 9, 9, 9}), hw(true, {1, 2, 3, 4, 5, 6, 7, 8}),
                                hw(true, {7, 7, 7, 7, 7, 7})},
                               mac));
    EXPECT_EQ(std::vector<unsigned char>(mac, mac + 6),
              (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));
    std::memset(mac, 0xCC, 6);
    ASSERT_TRUE(SelectEtherMAC({hw(true, {1, 2})}, mac));
    EXPECT_EQ(std::vector<unsigned char>(mac, mac + 6),
              (std::vector<unsigned char>{1, 2, 0xCC, 0xCC, 0xCC, 0xCC}))
        << "at most the adapter's own bytes are copied";
}

TEST(LinkSpeedBits, KernelValues) {
    EXPECT_EQ(LinkSpeedBits(0), 0u);
    EXPECT_EQ(LinkSpeedBits(0xFFFFFFFFu), 0u) << "unknown";
    EXPECT_EQ(LinkSpeedBits(10), 10000000ull);
    EXPECT_EQ(LinkSpeedBits(100000), 100000000000ull);
}

TEST(IsLinkLocal6, OnlyFe80) {
    const unsigned char fe80[16] = {0xFE, 0x80};
    const unsigned char fe81[16] = {0xFE, 0x81};
    const unsigned char febf[16] = {0xFE, 0xBF};
    EXPECT_TRUE(IsLinkLocal6(fe80));
    EXPECT_FALSE(IsLinkLocal6(fe81));
    EXPECT_FALSE(IsLinkLocal6(febf));
}

} // namespace
