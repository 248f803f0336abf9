// Allocation failures of name resolution and the interface lists. Only numeric addresses and
// names of the local host file are resolved, so that nothing goes to the network. A lookup by
// name counts the program's allocations only: the C library, refused memory inside its own file
// lookup, would go on to ask a name server.
#include "alloc_steps.h"

#include "qv_error.h"
#include "qv_socket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace Quorvel;
using allocsteps::Case;
using allocsteps::eScope;
using allocsteps::StepThrough;

namespace {

unsigned Ip4(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
    const unsigned char bytes[4] = {a, b, c, d};
    unsigned v;
    std::memcpy(&v, bytes, 4);
    return v;
}

// osGetHostAddr on one host: on success the arrays hold what a clean lookup gives; on failure
// the result is 0, both arrays are null, ipv6Count is 0 and the error record says why (code 8
// for a lookup the resolver refused, code 7 for the library's own arrays).
void StepHostAddr(const char *host, eScope scope) {
    cQV_Error err;
    unsigned *ipv4 = nullptr;
    tQV_Ip6 *ipv6 = nullptr;
    unsigned v6 = 0;
    const unsigned total = osGetHostAddr(&err, host, ipv4, ipv6, v6);
    ASSERT_GT(total, 0u) << host << ": " << (const char *)err.text;
    const std::vector<unsigned> want4(ipv4, ipv4 + (total - v6));
    std::vector<std::string> want6;
    for (unsigned i = 0; i < v6; ++i)
        want6.emplace_back(reinterpret_cast<const char *>(ipv6[i].bytes), 16);
    delete[] ipv4;
    delete[] ipv6;

    unsigned got = 0;
    Case c{host,
           [&] {
               err.Reset();
               v6 = 12345;
           },
           [&] { got = osGetHostAddr(&err, host, ipv4, ipv6, v6); },
           [&](bool failed) {
               if (got == 0) {
                   EXPECT_TRUE(failed);
                   EXPECT_EQ(ipv4, nullptr);
                   EXPECT_EQ(ipv6, nullptr);
                   EXPECT_EQ(v6, 0u);
                   EXPECT_TRUE(err.code == 8 || err.code == 7) << err.code;
                   EXPECT_STREQ(err.file, "ossocket");
                   EXPECT_NE(std::string(err.text), "");
                   return;
               }
               EXPECT_EQ(got, total);
               EXPECT_EQ(err.code, 0);
               ASSERT_EQ(v6, want6.size());
               EXPECT_EQ(std::vector<unsigned>(ipv4, ipv4 + (got - v6)), want4);
               for (unsigned i = 0; i < v6; ++i)
                   EXPECT_EQ(std::string(reinterpret_cast<const char *>(ipv6[i].bytes), 16),
                             want6[i]);
               delete[] ipv4;
               delete[] ipv6;
           }};
    c.scope = scope;
    StepThrough(c);
}

TEST(AllocStepsNet, ForwardLookup) {
    StepHostAddr("127.0.0.1", eScope::Everything);
    StepHostAddr("::1", eScope::Everything);
    StepHostAddr("localhost", eScope::Program);
}

TEST(AllocStepsNet, LocalHostLookups) {
    unsigned *ipv4 = nullptr;
    tQV_Ip6 *ipv6 = nullptr;
    unsigned v6 = 0, got = 0;
    Case local{"local host addresses", [&] { v6 = 12345; },
               [&] { got = osGetLocalHostAddr(ipv4, ipv6, v6); },
               [&](bool failed) {
                   if (got == 0) {
                       EXPECT_TRUE(failed);
                       EXPECT_EQ(ipv4, nullptr);
                       EXPECT_EQ(ipv6, nullptr);
                       EXPECT_EQ(v6, 0u);
                       return;
                   }
                   EXPECT_TRUE(ipv4 || ipv6);
                   delete[] ipv4;
                   delete[] ipv6;
               }};
    local.scope = eScope::Program;
    StepThrough(local);

    unsigned *list = nullptr;
    unsigned count = 0;
    Case old{"local host addresses, IPv4 lookup", [&] { count = 12345; },
             [&] { list = osGetHostAddrOld(count); },
             [&](bool failed) {
                 if (!list) {
                     // Only running out of memory keeps even the fallback address from coming.
                     EXPECT_TRUE(failed);
                     EXPECT_EQ(count, 0u);
                     return;
                 }
                 EXPECT_GE(count, 1u);
                 delete[] list;
             }};
    old.scope = eScope::Program;
    StepThrough(old);

    std::string name;
    const std::string clean = static_cast<const char *>(osGetHostName());
    ASSERT_FALSE(clean.empty());
    Case host{"host name",
              [&] {
                  name.reserve(256);
                  name = "old";
              },
              [&] {
                  const cQV_String result = osGetHostName();
                  name = static_cast<const char *>(result);
              },
              [&](bool failed) {
                  if (failed && name.empty()) return;
                  EXPECT_EQ(name, clean);
              }};
    host.scope = eScope::Program;
    StepThrough(host);
}

TEST(AllocStepsNet, IPv4LookupAndReverseLookup) {
    cQV_Error err;
    unsigned *list = nullptr;
    unsigned count = 0;
    Case byName{"localhost, IPv4 lookup",
                [&] {
                    err.Reset();
                    count = 12345;
                },
                [&] { list = osGetAddrByHostnameOld(&err, "localhost", count); },
                [&](bool failed) {
                    if (!list) {
                        EXPECT_TRUE(failed);
                        EXPECT_EQ(count, 0u);
                        EXPECT_NE(err.code, 0);
                        EXPECT_STREQ(err.file, "ossocket");
                        return;
                    }
                    ASSERT_GE(count, 1u);
                    EXPECT_EQ(list[0], Ip4(127, 0, 0, 1));
                    delete[] list;
                }};
    byName.scope = eScope::Program;
    StepThrough(byName);

    // The result is built in place and read into room made beforehand: assigning a string (a
    // copy) could fail on its own and would hide what the call returned.
    std::string name;
    bool found = false;
    Case reverse{"reverse lookup of 127.0.0.1",
                 [&] {
                     name.reserve(64);
                     name = "old";
                 },
                 [&] {
                     const cQV_String result = osGetHostnameByIp(Ip4(127, 0, 0, 1), found);
                     name = static_cast<const char *>(result);
                 },
                 [&](bool failed) {
                     if (!failed) {
                         EXPECT_TRUE(found);
                         EXPECT_EQ(name, "localhost");
                         return;
                     }
                     // Without the name: the dotted form, or nothing when even that could not be
                     // made; never a name reported found that is not there.
                     if (found) {
                         EXPECT_EQ(name, "localhost");
                     } else {
                         EXPECT_TRUE(name == "127.0.0.1" || name.empty()) << name;
                     }
                 }};
    reverse.scope = eScope::Program;
    StepThrough(reverse);
}

std::string Describe(const tNetInterfaceInfo *list, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += std::string(list[i].name) + "|" + std::to_string(list[i].address.family) + "|" +
               std::string(reinterpret_cast<const char *>(list[i].address.address.bytes), 16) +
               "|" + std::to_string(list[i].flags) + "|" + std::to_string(list[i].speed) + "\n";
    }
    return out;
}

// The interface list is whole or empty: never a list with an element short.
TEST(AllocStepsNet, InterfaceLists) {
    tNetInterfaceInfo *list = nullptr;
    const int cleanCount = osNetGetInterfaces(list);
    const std::string clean = Describe(list, cleanCount);
    delete[] list;
    int n = -1;
    StepThrough({"interfaces", [&] { list = reinterpret_cast<tNetInterfaceInfo *>(&n); },
                 [&] { n = osNetGetInterfaces(list); },
                 [&](bool failed) {
                     if (n == 0) {
                         EXPECT_EQ(list, nullptr);
                         EXPECT_TRUE(failed || cleanCount == 0);
                         return;
                     }
                     EXPECT_EQ(n, cleanCount);
                     EXPECT_EQ(Describe(list, n), clean);
                     delete[] list;
                 }});

    unsigned char cleanMac[6] = {0}, mac[6];
    const bool cleanHas = osNetGetEtherMAC(cleanMac);
    bool has = false;
    StepThrough({"Ethernet address", [&] { std::memset(mac, 0xee, sizeof mac); },
                 [&] { has = osNetGetEtherMAC(mac); },
                 [&](bool failed) {
                     if (!has) {
                         EXPECT_TRUE(failed || !cleanHas);
                         return;
                     }
                     EXPECT_EQ(std::memcmp(mac, cleanMac, 6), 0);
                 }});
}

TEST(AllocStepsNet, DescriptorSet) {
    cQV_Error err;
    cFD_SET *set = nullptr;
    StepThrough({"descriptor set", [&] { err.Reset(); }, [&] { set = cFD_SET::Create(&err); },
                 [&](bool) {
                     if (set) {
                         cFD_SET::Delete(set);
                         return;
                     }
                     EXPECT_EQ(err.code, 7);
                     EXPECT_STREQ(err.file, "ossocket");
                     EXPECT_EQ(std::string(err.text).rfind("Failed to allocate memory. Requested "
                                                           "size:",
                                                           0),
                               0u)
                         << (const char *)err.text;
                 }});
}

} // namespace
