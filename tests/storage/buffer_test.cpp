// The growable byte block: sizes in steps, transfer on copy and assignment, refused sizes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "qv_storage.h"

using namespace Quorvel;

namespace {

void Fill(cDataBuf &b, unsigned n, unsigned char first = 'a') {
    for (unsigned i = 0; i < n; ++i)
        b[static_cast<int>(i)] = static_cast<unsigned char>(first + i % 26);
}

} // namespace

TEST(DataBuf, NewBufferHoldsNothing) {
    cDataBuf b(16);
    EXPECT_EQ(b.GetLength(), 0u);
    EXPECT_EQ(b.GetSize(), 0u);
    EXPECT_EQ(static_cast<unsigned char *>(b), nullptr);
}

TEST(DataBuf, SizesAreRoundedUpToTheStep) {
    struct Case {
        unsigned step, request, size;
    } cases[] = {{16, 0, 0}, {16, 1, 16}, {16, 16, 16},    {16, 17, 32},
                 {1, 7, 7},  {7, 8, 14},  {4096, 1, 4096}, {0, 5, 5}}; // step 0 counts as 1
    for (const Case &c : cases) {
        cDataBuf b(c.step);
        ASSERT_TRUE(b.SetSize(c.request)) << c.step << " " << c.request;
        EXPECT_EQ(b.GetSize(), c.size) << c.step << " " << c.request;
        EXPECT_EQ(b.GetLength(), 0u);
    }
}

TEST(DataBuf, SetLengthGrowsButNeverShrinksTheBlock) {
    cDataBuf b(16);
    ASSERT_TRUE(b.SetLength(1));
    EXPECT_EQ(b.GetSize(), 16u);
    EXPECT_EQ(b.GetLength(), 1u);
    ASSERT_TRUE(b.SetLength(20));
    EXPECT_EQ(b.GetSize(), 32u);
    EXPECT_EQ(b.GetLength(), 20u);
    ASSERT_TRUE(b.SetLength(5));
    EXPECT_EQ(b.GetSize(), 32u);
    EXPECT_EQ(b.GetLength(), 5u);
}

TEST(DataBuf, ShrinkingKeepsTheFirstBytesAndCutsTheLength) {
    cDataBuf b(16);
    ASSERT_TRUE(b.SetLength(20));
    Fill(b, 20);
    ASSERT_TRUE(b.SetSize(10));
    EXPECT_EQ(b.GetSize(), 16u);
    EXPECT_EQ(b.GetLength(), 16u);
    EXPECT_EQ(std::memcmp(static_cast<unsigned char *>(b), "abcdefghijklmnop", 16), 0);

    ASSERT_TRUE(b.SetSize(0));
    EXPECT_EQ(static_cast<unsigned char *>(b), nullptr);
    EXPECT_EQ(b.GetSize(), 0u);
    EXPECT_EQ(b.GetLength(), 0u);
}

TEST(DataBuf, AddSegmentAppendsAndGrowsInSteps) {
    cDataBuf b(16);
    ASSERT_TRUE(b.AddSegment(reinterpret_cast<const unsigned char *>("hello "), 6));
    ASSERT_TRUE(b.AddSegment(reinterpret_cast<const unsigned char *>("world, again!"), 13));
    EXPECT_EQ(b.GetLength(), 19u);
    EXPECT_EQ(b.GetSize(), 32u);
    EXPECT_EQ(std::memcmp(static_cast<unsigned char *>(b), "hello world, again!", 19), 0);

    unsigned char *before = b;
    EXPECT_TRUE(b.AddSegment(nullptr, 0));
    EXPECT_EQ(b.GetLength(), 19u);
    EXPECT_EQ(static_cast<unsigned char *>(b), before);
}

TEST(DataBuf, AddSegmentOfItsOwnBytesSurvivesTheGrowth) {
    cDataBuf b(16);
    ASSERT_TRUE(b.AddSegment(reinterpret_cast<const unsigned char *>("0123456789abcdef"), 16));
    // The block is full: appending its own bytes reallocates while reading them.
    ASSERT_TRUE(b.AddSegment(static_cast<unsigned char *>(b), 16));
    EXPECT_EQ(b.GetLength(), 32u);
    EXPECT_EQ(std::memcmp(static_cast<unsigned char *>(b) + 16, "0123456789abcdef", 16), 0);
}

TEST(DataBuf, AssignmentMovesTheBlockAndKeepsBothSteps) {
    cDataBuf a(16), b(100);
    ASSERT_TRUE(a.AddSegment(reinterpret_cast<const unsigned char *>("abc"), 3));
    ASSERT_TRUE(b.SetLength(7)); // freed by the assignment (ASan reports a leak otherwise)
    unsigned char *block = a;
    b = a;
    EXPECT_EQ(static_cast<unsigned char *>(b), block);
    EXPECT_EQ(b.GetLength(), 3u);
    EXPECT_EQ(b.GetSize(), 16u);
    EXPECT_EQ(static_cast<unsigned char *>(a), nullptr);
    EXPECT_EQ(a.GetLength(), 0u);
    EXPECT_EQ(a.GetSize(), 0u);
    // Steps stay: a still allocates in 16s, b in 100s.
    ASSERT_TRUE(a.SetSize(1));
    EXPECT_EQ(a.GetSize(), 16u);
    ASSERT_TRUE(b.SetSize(17));
    EXPECT_EQ(b.GetSize(), 100u);

    unsigned char *now = b;
    cDataBuf &self = b;
    b = self;
    EXPECT_EQ(static_cast<unsigned char *>(b), now);
    EXPECT_EQ(b.GetLength(), 3u);
    EXPECT_EQ(std::memcmp(static_cast<unsigned char *>(b), "abc", 3), 0);
}

TEST(DataBuf, TransferConstructorTakesTheBytesWithItsOwnStep) {
    cDataBuf a(16);
    ASSERT_TRUE(a.AddSegment(reinterpret_cast<const unsigned char *>("xyz"), 3));
    cDataBuf b(a, 64);
    EXPECT_EQ(b.GetLength(), 3u);
    EXPECT_EQ(b.GetSize(), 16u);
    EXPECT_EQ(std::memcmp(static_cast<unsigned char *>(b), "xyz", 3), 0);
    EXPECT_EQ(static_cast<unsigned char *>(a), nullptr);
    EXPECT_EQ(a.GetLength(), 0u);
    ASSERT_TRUE(b.SetLength(17));
    EXPECT_EQ(b.GetSize(), 64u);
    ASSERT_TRUE(a.SetLength(17));
    EXPECT_EQ(a.GetSize(), 32u);
}

TEST(DataBuf, AdoptsAMallocBlock) {
    unsigned char *block = static_cast<unsigned char *>(std::malloc(10));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "0123456789", 10);
    {
        cDataBuf b(10, block, 16);
        EXPECT_EQ(b.GetLength(), 10u);
        EXPECT_EQ(b.GetSize(), 10u);
        EXPECT_EQ(static_cast<unsigned char *>(b), block);
        EXPECT_EQ(b.At(9), '9');
        // Growing goes to a multiple of the step.
        ASSERT_TRUE(b.SetLength(11));
        EXPECT_EQ(b.GetSize(), 16u);
        EXPECT_EQ(std::memcmp(static_cast<unsigned char *>(b), "0123456789", 10), 0);
    } // freed here; ASan reports the leak otherwise
}

TEST(DataBuf, CleanReleasesTheBlockAndKeepsTheStep) {
    cDataBuf b(32);
    ASSERT_TRUE(b.SetLength(40));
    b.Clean();
    EXPECT_EQ(static_cast<unsigned char *>(b), nullptr);
    EXPECT_EQ(b.GetLength(), 0u);
    EXPECT_EQ(b.GetSize(), 0u);
    ASSERT_TRUE(b.SetLength(1));
    EXPECT_EQ(b.GetSize(), 32u);
}

// Sizes near the top of the 32-bit range: a rounding that would wrap to a small block is refused
// and nothing changes.
TEST(DataBuf, SizesThatWouldWrapAreRefused) {
    cDataBuf b(16);
    ASSERT_TRUE(b.AddSegment(reinterpret_cast<const unsigned char *>("abcd"), 4));
    unsigned char *block = b;
    for (unsigned n : {0xFFFFFFFFu, 0xFFFFFFF1u}) {
        EXPECT_FALSE(b.SetSize(n)) << n;
        EXPECT_FALSE(b.SetLength(n)) << n;
    }
    // length + count past 32 bits.
    EXPECT_FALSE(b.AddSegment(reinterpret_cast<const unsigned char *>("x"), 0xFFFFFFFDu));
    EXPECT_EQ(static_cast<unsigned char *>(b), block);
    EXPECT_EQ(b.GetLength(), 4u);
    EXPECT_EQ(b.GetSize(), 16u);
    EXPECT_EQ(std::memcmp(static_cast<unsigned char *>(b), "abcd", 4), 0);
}
