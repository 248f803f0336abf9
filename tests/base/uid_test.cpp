// Identifiers: values, ordering, text form and generation.
#include "qv_process.h"
#include "qv_socket.h"
#include "qv_time.h"
#include "qv_uid.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace Quorvel;

namespace {

using Bytes = std::array<unsigned char, 16>;

Bytes BytesOf(const cQV_Uid &u) {
    Bytes b;
    std::memcpy(b.data(), u.GetBuffer(), b.size());
    return b;
}

cQV_Uid UidOf(const Bytes &b) {
    cQV_Uid u;
    std::memcpy(u.Buffer(), b.data(), b.size());
    return u;
}

unsigned Little(const unsigned char *p, int n) {
    unsigned v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// The generation time of an identifier, as milliseconds since 1970.
long long TimeOf(const cQV_Uid &u) {
    const unsigned char *b = u.GetBuffer();
    const int sec = static_cast<int>(Little(b + 10, 4));
    return static_cast<long long>(sec) * 1000 + Little(b + 14, 2);
}

long long Now() {
    tTimeb t;
    t.GetTime();
    return static_cast<long long>(t.sec) * 1000 + t.ms;
}

std::string Text(const cQV_Uid &u) {
    return static_cast<const char *>(u.ToString());
}

TEST(Uid, EmptyIdentifier) {
    cQV_Uid u;
    EXPECT_TRUE(u.IsEmpty());
    EXPECT_FALSE(u.IsNotEmpty());
    EXPECT_TRUE(u == cQV_Uid::GetEmpty());
    EXPECT_EQ(Text(u), "0x" + std::string(32, '0'));
    EXPECT_EQ(BytesOf(cQV_Uid::GetEmpty()), Bytes{});

    // Any single non-zero byte makes it non-empty; SetEmpty clears it again.
    for (int i = 0; i < 16; ++i) {
        cQV_Uid v;
        v.Buffer()[i] = 1;
        EXPECT_FALSE(v.IsEmpty()) << i;
        EXPECT_TRUE(v.IsNotEmpty()) << i;
        EXPECT_TRUE(v != cQV_Uid::GetEmpty()) << i;
        v.SetEmpty();
        EXPECT_TRUE(v.IsEmpty()) << i;
    }
}

TEST(Uid, NumberGoesToBytesSixToNineBigEndian) {
    struct Case {
        int n;
        const char *text;
    };
    const Case cases[] = {
        {0, "0x00000000000000000000000000000000"},
        {1, "0x00000000000000000001000000000000"},
        {0x01020304, "0x00000000000001020304000000000000"},
        {-1, "0x000000000000ffffffff000000000000"},
        {static_cast<int>(0x80000000u), "0x00000000000080000000000000000000"},
    };
    for (const Case &c : cases) {
        const cQV_Uid u(c.n);
        EXPECT_EQ(Text(u), c.text) << c.n;
    }
    EXPECT_EQ(cQV_Uid(1).GetBuffer()[9], 1);
}

TEST(Uid, CopyAndAssignCopyAllBytes) {
    Bytes b;
    for (int i = 0; i < 16; ++i)
        b[i] = static_cast<unsigned char>(0xf0 + i);
    const cQV_Uid a = UidOf(b);
    cQV_Uid copy(a);
    EXPECT_EQ(BytesOf(copy), b);
    cQV_Uid assigned(7);
    assigned = a;
    EXPECT_EQ(BytesOf(assigned), b);
    cQV_Uid &self = assigned;
    assigned = self;
    EXPECT_EQ(BytesOf(assigned), b);
    EXPECT_TRUE(assigned == a);
    EXPECT_FALSE(assigned != a);
}

TEST(Uid, CmpIsByteWiseUnsignedInIndexOrder) {
    struct Case {
        int index;       // the byte set in both
        unsigned char a; // its value in the left identifier
        unsigned char b; // and in the right one
        int expected;
    };
    const Case cases[] = {
        {0, 0x80, 0x7f, 1},   {0, 0x7f, 0x80, -1}, {15, 0x01, 0x00, 1},
        {15, 0x00, 0xff, -1}, {7, 0x42, 0x42, 0},
    };
    for (const Case &c : cases) {
        Bytes a{}, b{};
        a[c.index] = c.a;
        b[c.index] = c.b;
        EXPECT_EQ(UidOf(a).Cmp(UidOf(b)), c.expected) << c.index << " " << int(c.a);
    }
    // The first differing byte decides, whatever follows.
    Bytes low{}, high{};
    low[3] = 1;
    low[4] = 0xff;
    high[3] = 2;
    EXPECT_EQ(UidOf(low).Cmp(UidOf(high)), -1);
    EXPECT_EQ(UidOf(high).Cmp(UidOf(low)), 1);
}

TEST(Uid, TextFormIsLowerCaseHexInIndexOrder) {
    Bytes b;
    for (int i = 0; i < 16; ++i)
        b[i] = static_cast<unsigned char>(i * 17 + 10); // 0a 1b 2c ... f9
    const cQV_Uid u = UidOf(b);
    EXPECT_EQ(Text(u), "0x0a1b2c3d4e5f708192a3b4c5d6e7f809");
    cQV_Uid back;
    EXPECT_TRUE(back.FromString(u.ToString()));
    EXPECT_TRUE(back == u);
}

TEST(Uid, FromStringAcceptsWhatStrtoulConsumesWhole) {
    struct Case {
        std::string text;
        unsigned char byte0; // the first byte read
    };
    const std::string rest(30, '0');
    const Case cases[] = {
        {"0xAB" + rest, 0xab},
        {"0xaB" + rest, 0xab},
        {"0x f" + rest, 0x0f},
        {"0x+f" + rest, 0x0f},
        {"0x-1" + rest, 0xff}, // strtoul negates: the low 8 bits of ULONG_MAX
        {"0x7f" + rest + "trailing text is ignored", 0x7f},
    };
    for (const Case &c : cases) {
        cQV_Uid u(5);
        EXPECT_TRUE(u.FromString(c.text.c_str())) << c.text;
        Bytes expected{};
        expected[0] = c.byte0;
        EXPECT_EQ(BytesOf(u), expected) << c.text;
    }
}

TEST(Uid, FromStringFailureLeavesTheIdentifierUnchanged) {
    const std::string good = "0x000102030405060708090a0b0c0d0e0f";
    const char *const bad[] = {
        "",
        "0x000102030405060708090a0b0c0d0e0",  // 33 characters
        "0X000102030405060708090a0b0c0d0e0f", // capital X
        "1x000102030405060708090a0b0c0d0e0f",
        "0x000102030405060708090a0b0c0d0e0g", // not a digit, in the last pair
        "0xz00102030405060708090a0b0c0d0e0f", // not a digit, in the first pair
        "0x0001020304050607089 0a0b0c0d0e0f", // a digit and then a blank
        "0x0001020304050607080x0a0b0c0d0e0f", // "0x" inside a pair
        "0x00010203040506070809+ 0b0c0d0e0f",
    };
    for (const char *s : bad) {
        cQV_Uid u(0x12345678);
        EXPECT_FALSE(u.FromString(s)) << s;
        EXPECT_TRUE(u == cQV_Uid(0x12345678)) << s;
    }
    cQV_Uid u(3);
    EXPECT_FALSE(u.FromString(nullptr));
    EXPECT_TRUE(u == cQV_Uid(3));
    EXPECT_TRUE(u.FromString(good.c_str()));
    EXPECT_EQ(Text(u), good);
}

TEST(UidGenerate, LayoutNamesMachineProcessAndTime) {
    const long long before = Now();
    cQV_Uid u;
    u.Generate();
    const long long after = Now();
    const unsigned char *b = u.GetBuffer();

    unsigned char mac[6] = {0, 0, 0, 0, 0, 0};
    if (osNetGetEtherMAC(mac)) {
        EXPECT_EQ(std::memcmp(b, mac, 6), 0);
    } else {
        // The load time, big-endian: before this test began, and not long before.
        const long long sec = static_cast<int>(b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]);
        const unsigned ms = b[4] << 8 | b[5];
        EXPECT_LT(ms, 1000u);
        EXPECT_LE(sec * 1000 + ms, before);
        EXPECT_GT(sec * 1000 + ms, before - 24LL * 3600 * 1000);
    }
    EXPECT_EQ(Little(b + 6, 4), osGetCurrentProcessId());
    EXPECT_LT(Little(b + 14, 2), 1000u);
    EXPECT_GE(TimeOf(u), before);
    EXPECT_LE(TimeOf(u), after);
    EXPECT_TRUE(u.IsNotEmpty());
}

TEST(UidGenerate, SuccessiveIdentifiersHaveStrictlyLaterTimes) {
    cQV_Uid prev;
    prev.Generate();
    for (int i = 0; i < 50; ++i) {
        cQV_Uid next;
        next.Generate();
        EXPECT_GT(TimeOf(next), TimeOf(prev));
        // Machine and process stay; only bytes 10-15 change.
        EXPECT_EQ(std::memcmp(next.GetBuffer(), prev.GetBuffer(), 10), 0);
        EXPECT_NE(std::memcmp(next.GetBuffer() + 10, prev.GetBuffer() + 10, 6), 0);
        prev = next;
    }
}

TEST(UidGenerate, ThreadsNeverGetTheSameIdentifier) {
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::vector<cQV_Uid>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&made, t] {
            made[t].resize(kEach);
            for (cQV_Uid &u : made[t])
                u.Generate();
        });
    }
    for (std::thread &t : threads)
        t.join();

    std::set<Bytes> seen;
    std::set<long long> times;
    for (const std::vector<cQV_Uid> &list : made) {
        for (size_t i = 0; i < list.size(); ++i) {
            EXPECT_TRUE(seen.insert(BytesOf(list[i])).second) << Text(list[i]);
            times.insert(TimeOf(list[i]));
            if (i > 0) {
                EXPECT_GT(TimeOf(list[i]), TimeOf(list[i - 1]));
            }
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
    // Distinct in the time part alone, not only in the whole identifier.
    EXPECT_EQ(times.size(), static_cast<size_t>(kThreads * kEach));
}

} // namespace
