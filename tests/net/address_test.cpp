// Address readers and writers: the behaviour tables, round trips, and a comparison with the
// system's own text conversion on random addresses.
#include "qv_socket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

using namespace Quorvel;

namespace {

constexpr unsigned kUnset = 0xDEADBEEF;

// Bytes as "C0 A8 00 01"; IPv4 shows only its four bytes.
std::string Hex(const unsigned char *b, int n) {
    std::string s;
    char buf[4];
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

std::string Bytes(const tQV_InetAddress &a) {
    return Hex(a.address.bytes, a.family == eSoctFamilyIPv4 ? 4 : 16);
}

tQV_InetAddress Filled(unsigned char fill) {
    tQV_InetAddress a;
    a.family = static_cast<eSoctFamily>(7);
    std::memset(a.address.bytes, fill, 16);
    a.port = 4242;
    return a;
}

struct ReaderCase {
    const char *text;
    unsigned length;
    bool ok;
    int family;        // checked when ok (and for osParseIpAddress always)
    const char *bytes; // checked when ok
    unsigned stop;
};

void PrintTo(const ReaderCase &c, std::ostream *os) {
    *os << "\"" << c.text << "\" length " << c.length;
}

const char *const kV6Loop = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01";
const char *const kFe80_1 = "FE 80 00 00 00 00 00 00 00 00 00 00 00 00 00 01";
const char *const k1To8 = "00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08";

class ParseIpAddressTable : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ParseIpAddressTable, ResultFamilyBytesAndStop) {
    const ReaderCase &c = GetParam();
    tQV_InetAddress a = Filled(0xAA);
    unsigned stop = kUnset;
    EXPECT_EQ(osParseIpAddress(a, c.text, c.length, &stop), c.ok);
    EXPECT_EQ(a.family, c.family);
    EXPECT_EQ(stop, c.stop);
    EXPECT_EQ(a.port, 4242) << "the port is never touched";
    if (c.ok) {
        EXPECT_EQ(Bytes(a), c.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, ParseIpAddressTable,
    ::testing::Values(
        ReaderCase{"192.168.0.1", 0, true, 1, "C0 A8 00 01", 11},
        ReaderCase{"256.1.1.1", 0, false, 0, "", 3}, ReaderCase{"1..2.3", 0, false, 0, "", 2},
        ReaderCase{"1.2.3", 0, false, 0, "", 5},
        ReaderCase{"01.002.3.4", 0, true, 1, "01 02 03 04", 10},
        ReaderCase{"0255.0.0.1", 0, true, 1, "FF 00 00 01", 10},
        ReaderCase{"1.2.3.4:80", 0, true, 1, "01 02 03 04", 8},
        ReaderCase{"1.2.3.4.5", 0, true, 1, "01 02 03 04", 8},
        ReaderCase{"localhost", 0, false, 0, "", 9}, ReaderCase{"a.b.c.d", 0, false, 0, "", 0},
        ReaderCase{"1.2.3.4xyz", 7, true, 1, "01 02 03 04", 7},
        ReaderCase{"1.2.3.4xyz", 5, false, 0, "", 5}, ReaderCase{"fe80::1", 0, true, 2, kFe80_1, 7},
        ReaderCase{"2001:db8::ff00:42:8329", 0, true, 2,
                   "20 01 0D B8 00 00 00 00 00 00 FF 00 00 42 83 29", 22},
        ReaderCase{"1::", 0, true, 2, "00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 3},
        ReaderCase{"::1", 0, true, 2, kV6Loop, 3}, ReaderCase{"::", 0, false, 0, "", 2},
        ReaderCase{"1:::2", 0, false, 0, "", 3}, ReaderCase{"1::2::3", 0, false, 0, "", 5},
        ReaderCase{"12345::", 0, false, 0, "", 4}, ReaderCase{"1:2", 0, false, 0, "", 3},
        ReaderCase{"1:", 0, false, 0, "", 1}, ReaderCase{":1", 0, false, 0, "", 0},
        ReaderCase{"1:2:3:4:5:6:7:8", 0, true, 2, k1To8, 15},
        ReaderCase{"1:2:3:4:5:6:7:8:9", 0, false, 0, "", 15},
        ReaderCase{"1:2:3:4:5:6:7:8 ", 0, false, 0, "", 15},
        ReaderCase{"1::2:3:4:5:6:7:8", 0, true, 2, k1To8, 16},
        ReaderCase{"1:2:3:4:5:6:7::8", 0, true, 2, k1To8, 16},
        ReaderCase{"[::1]", 0, false, 0, "", 0}, ReaderCase{"fe80::1%3", 0, false, 0, "", 7},
        ReaderCase{"::ffff:1.2.3.4", 0, false, 0, "", 8},
        ReaderCase{"::1:80", 0, true, 2, "00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 80", 6},
        ReaderCase{"abcd::EF01", 0, true, 2, "AB CD 00 00 00 00 00 00 00 00 00 00 00 00 EF 01", 10},
        // The length bounds the reading: the text after it is never looked at.
        ReaderCase{"::1:2", 3, true, 2, kV6Loop, 3},
        ReaderCase{"1:2:3:4:5:6:7:8:9", 15, true, 2, k1To8, 15}));

class DecodeIpAddressTable : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(DecodeIpAddressTable, ResultBytesAndStop) {
    const ReaderCase &c = GetParam();
    tQV_InetAddress a = Filled(0xAA);
    unsigned stop = kUnset;
    EXPECT_EQ(DecodeIpAddress(c.text, c.length, a, &stop), c.ok);
    EXPECT_EQ(stop, c.stop);
    EXPECT_EQ(a.port, 4242);
    if (c.ok) {
        EXPECT_EQ(a.family, c.family);
        EXPECT_EQ(Bytes(a), c.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, DecodeIpAddressTable,
    ::testing::Values(
        ReaderCase{"1.2.3.4:80", 0, true, 1, "01 02 03 04", 7},
        ReaderCase{"1.2.3.256", 0, false, 0, "", 8}, ReaderCase{"1.2.3.", 0, false, 0, "", 6},
        ReaderCase{"FE80-0000-0000-0000-0000-0000-0000-0001", 0, true, 2, kFe80_1, 39},
        ReaderCase{"fe80-0000-0000-0000-0000-0000-0000-0001xyz", 0, true, 2, kFe80_1, 39},
        ReaderCase{"123-4567", 0, false, 0, "", 3},
        ReaderCase{"FE80-0000-0000-0000-0000-0000-0000-00G1", 0, false, 0, "", 37},
        // A dash form that stops short is refused at the end of the text.
        ReaderCase{"FE80-0000", 0, false, 0, "", 9},
        ReaderCase{"FE80-0000-0000-0000-0000-0000-0000-0001", 20, false, 0, "", 20}));

TEST(DecodeIpAddress, WithoutDotOrDashLeavesRecordAndStopAlone) {
    for (const char *text : {"abc", "1:2:3", ""}) {
        tQV_InetAddress a = Filled(0x55);
        unsigned stop = kUnset;
        EXPECT_FALSE(DecodeIpAddress(text, 0, a, &stop)) << text;
        EXPECT_EQ(stop, kUnset) << text;
        EXPECT_EQ(a.family, 7) << text;
        EXPECT_EQ(Bytes(a), Bytes(Filled(0x55))) << text;
    }
}

TEST(IpAddressReaders, NullTextWritesNothing) {
    tQV_InetAddress a = Filled(0x11);
    unsigned stop = kUnset;
    EXPECT_FALSE(osParseIpAddress(a, nullptr, 5, &stop));
    EXPECT_FALSE(osParseIpAddress(a, "", 0, &stop));
    EXPECT_FALSE(DecodeIpAddress(nullptr, 5, a, &stop));
    EXPECT_EQ(IsIp4AddressOld(nullptr, 5, &stop), 0u);
    EXPECT_EQ(IsIp4AddressOld("", 0, &stop), 0u);
    EXPECT_EQ(stop, kUnset);
    EXPECT_EQ(a.family, 7);
    // A null stop pointer is allowed everywhere.
    EXPECT_TRUE(osParseIpAddress(a, "::1", 0, nullptr));
    EXPECT_TRUE(DecodeIpAddress("1.2.3.4", 0, a, nullptr));
    EXPECT_NE(IsIp4AddressOld("1.2.3.4", 0, nullptr), 0u);
}

struct OldCase {
    const char *text;
    unsigned length;
    const char *bytes; // the result's bytes in memory
    unsigned stop;
};

class IsIp4AddressOldTable : public ::testing::TestWithParam<OldCase> {};

TEST_P(IsIp4AddressOldTable, ResultAndStop) {
    const OldCase &c = GetParam();
    unsigned stop = kUnset;
    unsigned v = IsIp4AddressOld(c.text, c.length, &stop);
    EXPECT_EQ(Hex(reinterpret_cast<const unsigned char *>(&v), 4), c.bytes) << c.text;
    EXPECT_EQ(stop, c.stop) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Samples, IsIp4AddressOldTable,
    ::testing::Values(
        OldCase{"1.2.3.4", 0, "01 02 03 04", 7}, OldCase{"1.2.3.255", 0, "01 02 03 FF", 9},
        OldCase{"1.2.3.256", 0, "00 00 00 00", 8}, OldCase{"1.2.3.4.5", 0, "01 02 03 04", 8},
        OldCase{"1.2.3.4.", 0, "01 02 03 04", 8}, OldCase{"1.2.3.4:80", 0, "00 00 00 00", 7},
        OldCase{"1.2.3.4x", 0, "00 00 00 00", 7}, OldCase{"1.2.3", 0, "00 00 00 00", 5},
        OldCase{"1.2.3.", 0, "00 00 00 00", 6}, OldCase{"1.2.3.4:80", 7, "01 02 03 04", 7},
        OldCase{"0.0.0.0", 0, "00 00 00 00", 7}, OldCase{"abc", 0, "00 00 00 00", 0}));

TEST(IpAddressWriters, Forms) {
    tQV_InetAddress a{};
    ASSERT_TRUE(osParseIpAddress(a, "10.0.0.5", 0, nullptr));
    a.port = 8080;
    EXPECT_STREQ(osGetIpString(a), "10.0.0.5:8080");
    EXPECT_STREQ(EncodeIpAddress(a), "10.0.0.5");

    osCreateLocalhostIp(eSoctFamilyIPv6, a);
    a.port = 0;
    EXPECT_STREQ(osGetIpString(a), "0000:0000:0000:0000:0000:0000:0000:0001:0");
    ASSERT_TRUE(osParseIpAddress(a, "2001:db8::ff00:42:8329", 0, nullptr));
    a.port = 65535;
    EXPECT_STREQ(osGetIpString(a), "2001:0DB8:0000:0000:0000:FF00:0042:8329:65535");
    EXPECT_STREQ(EncodeIpAddress(a), "2001-0DB8-0000-0000-0000-FF00-0042-8329");

    // Family 0 writes the dash form of whatever the 16 bytes hold.
    tQV_InetAddress none = Filled(0xAB);
    none.family = eSoctFamilyNone;
    EXPECT_STREQ(EncodeIpAddress(none), "ABAB-ABAB-ABAB-ABAB-ABAB-ABAB-ABAB-ABAB");
}

TEST(IpAddressWriters, LocalhostRecords) {
    tQV_InetAddress a = Filled(0xEE);
    osCreateLocalhostIp(eSoctFamilyIPv4, a);
    EXPECT_EQ(a.family, eSoctFamilyIPv4);
    EXPECT_EQ(Bytes(a), "7F 00 00 01");
    EXPECT_EQ(a.port, 4242);
    osCreateLocalhostIp(eSoctFamilyIPv6, a);
    EXPECT_EQ(a.family, eSoctFamilyIPv6);
    EXPECT_EQ(Bytes(a), kV6Loop);
    osCreateLocalhostIp(static_cast<eSoctFamily>(9), a);
    EXPECT_EQ(a.family, eSoctFamilyNone);
    EXPECT_EQ(Hex(a.address.bytes, 16), "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
}

TEST(IpAddressWriters, EncodeDecodeRoundTrip) {
    std::mt19937 rng(12345);
    for (int i = 0; i < 2000; ++i) {
        tQV_InetAddress x{};
        x.family = i % 2 ? eSoctFamilyIPv6 : eSoctFamilyIPv4;
        for (unsigned char &b : x.address.bytes)
            b = static_cast<unsigned char>(rng());
        tQV_InetAddress y = Filled(0);
        unsigned stop = 0;
        cQV_String text = EncodeIpAddress(x);
        ASSERT_TRUE(DecodeIpAddress(text, 0, y, &stop)) << text;
        EXPECT_EQ(stop, text.Length());
        EXPECT_EQ(y.family, x.family);
        EXPECT_EQ(Bytes(y), Bytes(x)) << text;
    }
}

TEST(ByteOrder, NetworkOrderIsBigEndianAndQuadsStay) {
    const unsigned v = osSoctHtonl(0x01020304u);
    EXPECT_EQ(Hex(reinterpret_cast<const unsigned char *>(&v), 4), "01 02 03 04");
    const unsigned short s = osSoctHtons(0x0102);
    EXPECT_EQ(Hex(reinterpret_cast<const unsigned char *>(&s), 2), "01 02");
    EXPECT_EQ(osSoctHtonl(0x01020304u), htonl(0x01020304u));
    EXPECT_EQ(osSoctHtons(0xABCD), htons(0xABCD));
    EXPECT_EQ(osSoctNtohl(osSoctHtonl(0xCAFEBABEu)), 0xCAFEBABEu);
    EXPECT_EQ(osSoctNtohs(osSoctHtons(0xBEEF)), 0xBEEF);
    EXPECT_EQ(osSoctHtonq(0x0102030405060708ull), 0x0102030405060708ull);
    EXPECT_EQ(osSoctNtohq(0x0102030405060708ull), 0x0102030405060708ull);
}

// The system's converter agrees on canonical texts of random addresses (no IPv4 tail, which the
// reader does not take), and on random dotted quads.
TEST(ParseIpAddress, AgreesWithSystemConverter) {
    std::mt19937 rng(777);
    char text[64];
    for (int i = 0; i < 20000; ++i) {
        unsigned char bytes[16];
        for (unsigned char &b : bytes)
            b = static_cast<unsigned char>(rng());
        // Runs of zero groups so that "::" appears often.
        const int zeroFrom = static_cast<int>(rng() % 8), zeroLen = static_cast<int>(rng() % 8);
        for (int g = zeroFrom; g < zeroFrom + zeroLen && g < 8; ++g)
            bytes[2 * g] = bytes[2 * g + 1] = 0;
        const bool v6 = i % 2 == 0;
        ASSERT_NE(inet_ntop(v6 ? AF_INET6 : AF_INET, bytes, text, sizeof text), nullptr);
        if (v6 && std::strchr(text, '.')) continue; // written with an IPv4 tail
        tQV_InetAddress a{};
        unsigned stop = 0;
        ASSERT_TRUE(osParseIpAddress(a, text, 0, &stop)) << text;
        EXPECT_EQ(stop, std::strlen(text)) << text;
        EXPECT_EQ(a.family, v6 ? eSoctFamilyIPv6 : eSoctFamilyIPv4);
        EXPECT_EQ(std::memcmp(a.address.bytes, bytes, v6 ? 16 : 4), 0) << text;
    }
}

} // namespace
