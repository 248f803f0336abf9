// Host names, resolution and interfaces. Names are numeric, "localhost" or reserved names that
// cannot exist (".invalid"), so that no answer depends on the network around the machine.
#include "net_test_util.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#endif

using namespace Quorvel;

namespace {

std::string Bytes4(unsigned v) {
    unsigned char b[4];
    std::memcpy(b, &v, 4);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

const char kNoSuchHost[] = "no-such-host.invalid";

TEST(HostName, IsNeverEmpty) {
    cQV_String name = osGetHostName();
    EXPECT_GT(name.Length(), 0u);
}

TEST(GetHostAddr, NullHost) {
    unsigned *v4 = reinterpret_cast<unsigned *>(1);
    tQV_Ip6 *v6 = reinterpret_cast<tQV_Ip6 *>(1);
    unsigned v6Count = 77;
    cQV_Error err;
    EXPECT_EQ(osGetHostAddr(&err, nullptr, v4, v6, v6Count), 0u);
    EXPECT_EQ(v4, nullptr);
    EXPECT_EQ(v6, nullptr);
    EXPECT_EQ(v6Count, 77u) << "not written for a null host";
    EXPECT_TRUE(err.IsNotError());
}

TEST(GetHostAddr, NumericAddresses) {
    unsigned *v4 = nullptr;
    tQV_Ip6 *v6 = nullptr;
    unsigned v6Count = 9;
    cQV_Error err;
    ASSERT_EQ(osGetHostAddr(&err, "127.0.0.1", v4, v6, v6Count), 1u) << err.text;
    EXPECT_EQ(v6Count, 0u);
    ASSERT_NE(v4, nullptr);
    EXPECT_EQ(v6, nullptr);
    EXPECT_EQ(Bytes4(v4[0]), "127.0.0.1");
    delete[] v4;

    ASSERT_EQ(osGetHostAddr(&err, "::1", v4, v6, v6Count), 1u) << err.text;
    EXPECT_EQ(v6Count, 1u);
    EXPECT_EQ(v4, nullptr);
    ASSERT_NE(v6, nullptr);
    tQV_InetAddress a{};
    a.family = eSoctFamilyIPv6;
    a.address = v6[0];
    EXPECT_STREQ(EncodeIpAddress(a), "0000-0000-0000-0000-0000-0000-0000-0001");
    delete[] v6;

    // The only address is link-local: left out, so nothing is left.
    ASSERT_EQ(osGetHostAddr(&err, "fe80::1", v4, v6, v6Count), 0u) << err.text;
    EXPECT_EQ(v6Count, 0u);
    EXPECT_EQ(v4, nullptr);
    EXPECT_EQ(v6, nullptr);
    EXPECT_TRUE(err.IsNotError()) << "a name that resolves is no failure";
}

TEST(GetHostAddr, UnknownNameFails) {
    unsigned *v4 = nullptr;
    tQV_Ip6 *v6 = nullptr;
    unsigned v6Count = 9;
    cQV_Error err;
    EXPECT_EQ(osGetHostAddr(&err, kNoSuchHost, v4, v6, v6Count), 0u);
    EXPECT_EQ(v6Count, 0u);
    EXPECT_EQ(v4, nullptr);
    EXPECT_EQ(v6, nullptr);
    EXPECT_EQ(err.code, 8);
    EXPECT_STREQ(err.file, "ossocket");
    EXPECT_TRUE(nettest::MessageIs(err, std::string("Failed to get address by host name [") +
                                            kNoSuchHost + "]. WSAGetLastError()="))
        << err.text;
}

TEST(GetLocalHostAddr, AgreesWithLookupOfHostName) {
    unsigned *v4 = nullptr, *w4 = nullptr;
    tQV_Ip6 *v6 = nullptr, *w6 = nullptr;
    unsigned v6Count = 0, w6Count = 0;
    const unsigned n = osGetLocalHostAddr(v4, v6, v6Count);
    const unsigned m = osGetHostAddr(nullptr, osGetHostName(), w4, w6, w6Count);
    EXPECT_EQ(n, m);
    EXPECT_EQ(v6Count, w6Count);
    for (unsigned i = 0; i + v6Count < n && i + w6Count < m; ++i)
        EXPECT_EQ(v4[i], w4[i]);
    EXPECT_EQ(v4 == nullptr, n == v6Count);
    delete[] v4;
    delete[] v6;
    delete[] w4;
    delete[] w6;
}

TEST(GetAddrByHostnameOld, NumericAndUnknown) {
    cQV_Error err;
    unsigned count = 5;
    unsigned *v = osGetAddrByHostnameOld(&err, "127.0.0.1", count);
    ASSERT_NE(v, nullptr) << err.text;
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(Bytes4(v[0]), "127.0.0.1");
    delete[] v;

    count = 5;
    EXPECT_EQ(osGetAddrByHostnameOld(&err, kNoSuchHost, count), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(err.code, 8);
    EXPECT_TRUE(nettest::MessageIs(err, std::string("Failed to get address by host name [") +
                                            kNoSuchHost + "]. WSAGetLastError()="))
        << err.text;
}

TEST(GetHostAddrOld, NeverEmpty) {
    unsigned count = 0;
    unsigned *v = osGetHostAddrOld(count);
    ASSERT_NE(v, nullptr);
    EXPECT_GE(count, 1u);
    delete[] v;
}

TEST(GetHostnameByIp, FoundAndNotFound) {
    bool found = false;
    unsigned loop = 0;
    const unsigned char lb[4] = {127, 0, 0, 1};
    std::memcpy(&loop, lb, 4);
    cQV_String name = osGetHostnameByIp(loop, found);
    if (found) {
        EXPECT_GT(name.Length(), 0u);
    } else {
        EXPECT_STREQ(name, "127.0.0.1");
    }
    // TEST-NET-1 has no reverse entry anywhere.
    unsigned testNet = 0;
    const unsigned char tn[4] = {192, 0, 2, 231};
    std::memcpy(&testNet, tn, 4);
    found = true;
    EXPECT_STREQ(osGetHostnameByIp(testNet, found), "192.0.2.231");
    EXPECT_FALSE(found);
}

// Whatever this machine has: every record is a kept address of an interface that is up.
TEST(NetGetInterfaces, RecordsFollowTheRules) {
    tNetInterfaceInfo *list = reinterpret_cast<tNetInterfaceInfo *>(1);
    const int n = osNetGetInterfaces(list);
    ASSERT_GE(n, 0);
    EXPECT_EQ(list == nullptr, n == 0);
    for (int i = 0; i < n; ++i) {
        const tNetInterfaceInfo &r = list[i];
        EXPECT_GT(r.name.Length(), 0u);
        EXPECT_TRUE(r.address.family == eSoctFamilyIPv4 || r.address.family == eSoctFamilyIPv6);
        EXPECT_EQ(r.address.port, 0);
        EXPECT_EQ(r.flags & ~kNetInterfacePPP, 0u);
        if (r.address.family == eSoctFamilyIPv6) {
            EXPECT_FALSE(r.address.address.bytes[0] == 0xFE && r.address.address.bytes[1] == 0x80);
        } else {
            EXPECT_NE(r.address.address.bytes[0], 127) << "loopback is left out";
        }
    }
    delete[] list;
}

#if !defined(_WIN32)

// The checks run in a child with a network namespace of its own, where the test builds the
// interfaces it expects; nothing outside the child's namespace changes. The child reports what
// went wrong on a pipe; an empty report is success.
class NetNamespace : public ::testing::Test {
protected:
    static constexpr int kSkip = 77;

    // Runs fn in a child in a new network namespace; fn returns "" or what went wrong.
    void RunInNamespace(std::string (*fn)()) {
        if (access("/usr/sbin/ip", X_OK) != 0 && access("/sbin/ip", X_OK) != 0)
            GTEST_SKIP() << "the ip program is not installed";
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            if (unshare(CLONE_NEWNET) != 0) _exit(kSkip);
            const std::string report = fn();
            if (!report.empty()) (void)!write(fds[1], report.data(), report.size());
            _exit(report.empty() ? 0 : 1);
        }
        close(fds[1]);
        int status = 0;
        pid_t done = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        std::string report;
        char buf[512];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0)
            report.append(buf, static_cast<size_t>(n));
        close(fds[0]);
        ASSERT_NE(done, 0) << "the child did not finish in time";
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == kSkip)
            GTEST_SKIP() << "network namespaces are not allowed here (needs root)";
        EXPECT_EQ(WEXITSTATUS(status), 0) << report;
        EXPECT_EQ(report, "");
    }
};

std::string Ip(const std::string &args) {
    const std::string cmd = "ip " + args + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 ? "" : "failed: ip " + args + "\n";
}

std::string Interfaces() {
    tNetInterfaceInfo *list = nullptr;
    const int n = osNetGetInterfaces(list);
    std::string s;
    for (int i = 0; i < n; ++i) {
        s += std::string(list[i].name) + " " +
             static_cast<const char *>(EncodeIpAddress(list[i].address)) + " " +
             std::to_string(list[i].flags) + ";";
    }
    if ((n == 0) != (list == nullptr)) s += "list and count disagree;";
    delete[] list;
    return s;
}

bool Running(const char *name) {
    ifreq req{};
    std::strncpy(req.ifr_name, name, IFNAMSIZ - 1);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool ok = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &req) == 0 && (req.ifr_flags & IFF_RUNNING);
    if (fd >= 0) close(fd);
    return ok;
}

// The first Ethernet-type device in index order, read through another call than the library's.
std::string FirstEtherByIoctl() {
    struct if_nameindex *names = if_nameindex();
    std::string mac;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    unsigned best = 0;
    for (struct if_nameindex *p = names; p && p->if_index; ++p) {
        ifreq req{};
        std::strncpy(req.ifr_name, p->if_name, IFNAMSIZ - 1);
        if (ioctl(fd, SIOCGIFHWADDR, &req) != 0 || req.ifr_hwaddr.sa_family != ARPHRD_ETHER)
            continue;
        if (best && p->if_index > best) continue;
        best = p->if_index;
        mac.assign(req.ifr_hwaddr.sa_data, 6);
    }
    close(fd);
    if_freenameindex(names);
    return mac;
}

std::string LoopbackOnly() {
    std::string r;
    unsigned char mac[6];
    if (!Interfaces().empty()) r += "loopback down: " + Interfaces() + "\n";
    r += Ip("link set lo up");
    if (!Interfaces().empty()) r += "loopback up: " + Interfaces() + "\n";
    if (osNetGetEtherMAC(mac)) r += "an Ethernet address without an Ethernet device\n";
    return r;
}

std::string VethPair() {
    std::string r;
    r += Ip("link add qva type veth peer name qvb");
    r += Ip("addr add 10.9.8.7/24 dev qva");
    r += Ip("-6 addr add 2001:db8::7/64 dev qva nodad");
    r += Ip("link set qva up");
    r += Ip("link set qvb up");
    if (!r.empty()) return r;
    for (int i = 0; i < 200 && !(Running("qva") && Running("qvb")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Link-local addresses come with the link; wait for qva's so that leaving it out is tested.
    for (int i = 0; i < 200; ++i) {
        ifaddrs *list = nullptr;
        bool linkLocal = false;
        if (getifaddrs(&list) == 0) {
            for (ifaddrs *p = list; p; p = p->ifa_next) {
                if (p->ifa_addr && p->ifa_addr->sa_family == AF_INET6 &&
                    std::strcmp(p->ifa_name, "qva") == 0)
                    linkLocal =
                        linkLocal || IN6_IS_ADDR_LINKLOCAL(
                                         &reinterpret_cast<sockaddr_in6 *>(p->ifa_addr)->sin6_addr);
            }
            freeifaddrs(list);
        }
        if (linkLocal) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string both = Interfaces();
    const std::string want = "qva 10.9.8.7 0;qva 2001-0DB8-0000-0000-0000-0000-0000-0007 0;";
    if (both != want) r += "up: got [" + both + "] want [" + want + "]\n";

    tNetInterfaceInfo *list = nullptr;
    const int n = osNetGetInterfaces(list);
    for (int i = 0; i < n; ++i) {
        // A veth reports 10 Gbit/s (the low 32 bits of it) or no speed at all.
        if (list[i].speed != 0 && list[i].speed != static_cast<unsigned>(10000000000ull))
            r += "speed " + std::to_string(list[i].speed) + "\n";
    }
    delete[] list;

    unsigned char mac[6];
    if (!osNetGetEtherMAC(mac))
        r += "no Ethernet address\n";
    else if (std::string(reinterpret_cast<char *>(mac), 6) != FirstEtherByIoctl())
        r += "not the first Ethernet device's address\n";

    // The peer going down takes qva's carrier: no interface is active.
    r += Ip("link set qvb down");
    for (int i = 0; i < 200 && Running("qva"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!Interfaces().empty()) r += "peer down: " + Interfaces() + "\n";
    r += Ip("link set qva down");
    if (!Interfaces().empty()) r += "down: " + Interfaces() + "\n";
    return r;
}

TEST_F(NetNamespace, OnlyLoopbackGivesNothing) {
    RunInNamespace(LoopbackOnly);
}

TEST_F(NetNamespace, VethUpAndDown) {
    RunInNamespace(VethPair);
}

#endif

} // namespace
