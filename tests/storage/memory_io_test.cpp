// The memory stream: positions, overwrites, the decimal scans and the sticky status.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "qv_storage.h"
#include "storage_test_util.h"

using namespace Quorvel;
using storagetest::Bytes;
using storagetest::Load;

namespace {

const unsigned char *U(const char *s) {
    return reinterpret_cast<const unsigned char *>(s);
}

void ExpectStatus(cMemoryIO &io, const char *text) {
    EXPECT_EQ(io.GetStatus().code, 3);
    EXPECT_STREQ(io.GetStatus().file, "osstorage");
    EXPECT_STREQ(io.GetStatus().text, text);
    EXPECT_GT(io.GetStatus().line, 0);
}

} // namespace

TEST(MemoryIO, NumbersAreBareDecimalText) {
    cMemoryIO io;
    EXPECT_TRUE(io.WriteUlong(12));
    EXPECT_TRUE(io.WriteLong(-5));
    EXPECT_TRUE(io.WriteUlong(0));
    EXPECT_EQ(Bytes(io), "12-50");
    EXPECT_EQ(io.Tell(), 5u);

    io.Reset();
    EXPECT_TRUE(io.WriteUlong(4294967295u));
    EXPECT_TRUE(io.WriteLong(-2147483647 - 1));
    EXPECT_TRUE(io.WriteLong(2147483647));
    EXPECT_EQ(Bytes(io), "4294967295-21474836482147483647");
}

struct ScanCase {
    const char *text;
    bool ok;
    long long value; // the value read (or, for a failing ReadLong, what value holds after it)
    unsigned taken;
};

// Cases print as their text, so that a failing case names itself.
void PrintTo(const ScanCase &c, std::ostream *os) {
    *os << storagetest::Printable(c.text);
}

class UlongScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(UlongScan, ReadsDigitsOnly) {
    const ScanCase &c = GetParam();
    cMemoryIO io;
    Load(io, c.text);
    unsigned v = 777;
    EXPECT_EQ(io.ReadUlong(v), c.ok);
    if (!c.ok) {
        EXPECT_STREQ(io.GetStatus().text, "Failed to read tUlong");
        io.GetStatus().Reset();
    }
    if (c.ok)
        EXPECT_EQ(v, static_cast<unsigned>(c.value));
    else
        EXPECT_EQ(v, 777u);
    EXPECT_EQ(io.Tell(), c.taken);
}

INSTANTIATE_TEST_SUITE_P(MemoryIO, UlongScan,
                         ::testing::Values(ScanCase{"4294967295", true, 4294967295ll, 10},
                                           ScanCase{"4294967296", true, 4294967295ll, 10},
                                           ScanCase{"99999999999", true, 4294967295ll, 11},
                                           ScanCase{"123456789012", true, 4294967295ll, 11},
                                           ScanCase{"00000000007x", true, 7, 11},
                                           ScanCase{"0", true, 0, 1},
                                           ScanCase{"12;34", true, 12, 2},
                                           ScanCase{" 7", false, 0, 0}, ScanCase{"+7", false, 0, 0},
                                           ScanCase{"-7", false, 0, 0}, ScanCase{"", false, 0, 0},
                                           ScanCase{"x1", false, 0, 0}));

class LongScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(LongScan, ReadsSignAndDigits) {
    const ScanCase &c = GetParam();
    cMemoryIO io;
    Load(io, c.text);
    int v = 777;
    EXPECT_EQ(io.ReadLong(v), c.ok);
    if (!c.ok) {
        EXPECT_STREQ(io.GetStatus().text, "Failed to read int");
        io.GetStatus().Reset();
    }
    EXPECT_EQ(v, static_cast<int>(c.value));
    EXPECT_EQ(io.Tell(), c.taken);
}

INSTANTIATE_TEST_SUITE_P(
    MemoryIO, LongScan,
    ::testing::Values(ScanCase{"-2147483648", true, -2147483647ll - 1, 11},
                      ScanCase{"-2147483649", true, -2147483647ll - 1, 11},
                      ScanCase{"-99999999999", true, -2147483647ll - 1, 11}, // 10 digits taken
                      ScanCase{"2147483647", true, 2147483647, 10},
                      ScanCase{"2147483648", true, 2147483647, 10},
                      ScanCase{"99999999999", true, 2147483647, 11}, ScanCase{"-0", true, 0, 2},
                      ScanCase{"-12-3", true, -12, 3}, ScanCase{"-a", false, 0, 0},
                      ScanCase{"-", false, 0, 0}, ScanCase{"x", false, 777, 0},
                      ScanCase{"", false, 777, 0}, ScanCase{"+5", false, 777, 0},
                      ScanCase{" 5", false, 777, 0}));

TEST(MemoryIO, ATwelfthDigitIsLeftForTheNextRead) {
    cMemoryIO io;
    Load(io, "123456789012");
    unsigned a = 0, b = 0;
    ASSERT_TRUE(io.ReadUlong(a));
    ASSERT_TRUE(io.ReadUlong(b));
    EXPECT_EQ(a, 4294967295u);
    EXPECT_EQ(b, 2u);
    EXPECT_TRUE(io.IsEof());

    Load(io, "-99999999999");
    int s = 0, t = 0;
    ASSERT_TRUE(io.ReadLong(s));
    ASSERT_TRUE(io.ReadLong(t));
    EXPECT_EQ(s, -2147483647 - 1);
    EXPECT_EQ(t, 9);
}

TEST(MemoryIO, SeekUpToTheLength) {
    cMemoryIO io;
    Load(io, "0123456789");
    EXPECT_TRUE(io.Seek(10));
    EXPECT_TRUE(io.IsEof());
    EXPECT_TRUE(io.Seek(0));
    EXPECT_FALSE(io.IsEof());
    EXPECT_FALSE(io.Seek(11));
    ExpectStatus(io, "Failed to seek to position 11");
}

TEST(MemoryIO, WritesOverwriteInPlaceAndExtendAtTheEnd) {
    cMemoryIO io;
    Load(io, "0123456789");
    ASSERT_TRUE(io.Seek(1));
    ASSERT_TRUE(io.WriteBytes(3, U("abc")));
    EXPECT_EQ(Bytes(io), "0abc456789");
    EXPECT_EQ(io.Tell(), 4u);
    ASSERT_TRUE(io.Seek(8));
    ASSERT_TRUE(io.WriteBytes(4, U("WXYZ")));
    EXPECT_EQ(Bytes(io), "0abc4567WXYZ");
    EXPECT_EQ(io.GetBuffer().GetSize(), 16u);
    EXPECT_TRUE(io.WriteBytes(0, nullptr));
    EXPECT_TRUE(io.WriteFlush());
    EXPECT_EQ(io.GetBuffer().GetLength(), 12u);
}

TEST(MemoryIO, ReadBytesNeverPassesTheLength) {
    cMemoryIO io;
    Load(io, "abcdef");
    unsigned char out[8] = {};
    ASSERT_TRUE(io.ReadBytes(4, out));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 4), "abcd");
    EXPECT_TRUE(io.ReadBytes(0, out));
    EXPECT_FALSE(io.ReadBytes(3, out));
    ExpectStatus(io, "Failed to read 3 bytes");
    io.GetStatus().Reset();
    EXPECT_EQ(io.Tell(), 4u);
    // A count that would wrap the position is refused, not wrapped.
    EXPECT_FALSE(io.ReadBytes(0xFFFFFFFFu, out));
    io.GetStatus().Reset();
    EXPECT_EQ(io.Tell(), 4u);
    ASSERT_TRUE(io.ReadBytes(2, out));
    EXPECT_TRUE(io.IsEof());
}

TEST(MemoryIO, AFailureIsStickyUntilCleared) {
    cMemoryIO io;
    Load(io, "12 34");
    unsigned v = 0;
    int s = 0;
    unsigned char b;
    ASSERT_TRUE(io.ReadUlong(v));
    EXPECT_FALSE(io.ReadUlong(v)); // the space
    ExpectStatus(io, "Failed to read tUlong");
    const int line = io.GetStatus().line;

    EXPECT_EQ(io.Tell(), 0u);
    EXPECT_FALSE(io.Seek(0));
    EXPECT_FALSE(io.WriteBytes(1, U("x")));
    EXPECT_FALSE(io.WriteUlong(1));
    EXPECT_FALSE(io.WriteLong(1));
    EXPECT_FALSE(io.WriteFlush());
    EXPECT_FALSE(io.ReadBytes(1, &b));
    EXPECT_FALSE(io.ReadUlong(v));
    EXPECT_FALSE(io.ReadLong(s));
    EXPECT_FALSE(io.IsEof());
    // The first cause is kept and nothing was touched.
    EXPECT_STREQ(io.GetStatus().text, "Failed to read tUlong");
    EXPECT_EQ(io.GetStatus().line, line);
    EXPECT_EQ(Bytes(io), "12 34");

    io.Reset(); // keeps the status
    EXPECT_FALSE(io.WriteUlong(5));
    EXPECT_EQ(io.GetBuffer().GetLength(), 0u);

    io.GetStatus().Reset();
    EXPECT_TRUE(io.WriteUlong(5));
    EXPECT_EQ(Bytes(io), "5");

    io.ReadBytes(9, &b);
    ASSERT_TRUE(io.GetStatus().IsError());
    cDataBuf fresh(16);
    ASSERT_TRUE(fresh.AddSegment(U("77"), 2));
    io.SetBuffer(fresh); // clears the status
    EXPECT_TRUE(io.GetStatus().IsNotError());
    ASSERT_TRUE(io.ReadUlong(v));
    EXPECT_EQ(v, 77u);
}

TEST(MemoryIO, SetBufferTakesTheBytesAndRestartsAtZero) {
    cMemoryIO io;
    ASSERT_TRUE(io.WriteBytes(3, U("old")));
    cDataBuf b(16);
    ASSERT_TRUE(b.AddSegment(U("new bytes"), 9));
    const unsigned char *block = b;
    io.SetBuffer(b);
    EXPECT_EQ(static_cast<unsigned char *>(b), nullptr);
    EXPECT_EQ(b.GetLength(), 0u);
    EXPECT_EQ(io.Tell(), 0u);
    EXPECT_EQ(static_cast<const unsigned char *>(io.GetBuffer()), block);
    EXPECT_EQ(Bytes(io), "new bytes");
}

TEST(MemoryIO, CopiesMoveTheBytesAndLeaveTheSourceEmptyAtZero) {
    cMemoryIO a;
    ASSERT_TRUE(a.WriteBytes(6, U("abcdef")));
    ASSERT_TRUE(a.Seek(2));
    cMemoryIO b(a);
    EXPECT_EQ(Bytes(b), "abcdef");
    EXPECT_EQ(b.Tell(), 2u);
    EXPECT_EQ(a.GetBuffer().GetLength(), 0u);
    EXPECT_EQ(a.Tell(), 0u);
    // The emptied source writes from its start, with no gap of unwritten bytes.
    ASSERT_TRUE(a.WriteBytes(1, U("z")));
    EXPECT_EQ(Bytes(a), "z");

    cMemoryIO c;
    ASSERT_TRUE(c.WriteBytes(1, U("q")));
    c = b;
    EXPECT_EQ(Bytes(c), "abcdef");
    EXPECT_EQ(c.Tell(), 2u);
    EXPECT_EQ(b.GetBuffer().GetLength(), 0u);
    EXPECT_TRUE(b.IsEof());
    // Growing the copy's buffer goes in steps of 16.
    ASSERT_TRUE(c.Seek(6));
    ASSERT_TRUE(c.WriteBytes(11, U("0123456789a")));
    EXPECT_EQ(c.GetBuffer().GetSize(), 32u);
}

TEST(MemoryIO, APositionPastABufferTheCallerShortenedIsDrawnBack) {
    cMemoryIO io;
    Load(io, "0123456789");
    ASSERT_TRUE(io.Seek(8));
    ASSERT_TRUE(io.GetBuffer().SetLength(3));
    EXPECT_EQ(io.Tell(), 3u);
    EXPECT_TRUE(io.IsEof());
    ASSERT_TRUE(io.WriteBytes(2, U("ab")));
    EXPECT_EQ(Bytes(io), "012ab");
}

TEST(MemoryIO, NumbersReadBackUnderEveryLocale) {
    storagetest::OtherLocale locale;
    if (!locale.active) GTEST_SKIP() << "no locale with ',' as decimal mark here";
    cMemoryIO io;
    ASSERT_TRUE(io.WriteUlong(1234567));
    ASSERT_TRUE(io.WriteBytes(1, U(" ")));
    ASSERT_TRUE(io.WriteLong(-7654321));
    EXPECT_EQ(Bytes(io), "1234567 -7654321");
    ASSERT_TRUE(io.Seek(0));
    unsigned u = 0;
    int s = 0;
    unsigned char sep;
    ASSERT_TRUE(io.ReadUlong(u));
    ASSERT_TRUE(io.ReadBytes(1, &sep));
    ASSERT_TRUE(io.ReadLong(s));
    EXPECT_EQ(u, 1234567u);
    EXPECT_EQ(s, -7654321);
}
