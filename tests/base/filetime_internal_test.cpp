// Conversion between file-time counts (100 ns since 1601) and seconds since 1970.
#include "filetime.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace Quorvel::detail;

namespace {

struct ToSecondsCase {
    uint64_t ticks;
    int64_t seconds;
};

TEST(FileTimeConversion, CountsToSecondsRoundDown) {
    const ToSecondsCase cases[] = {
        {116444736000000000ULL, 0},
        {116444736000000000ULL + 9999999, 0},
        {116444736000000000ULL + 10000000, 1},
        {116444736000000000ULL - 1, -1},
        {116444736000000000ULL - 10000000, -1},
        {116444736000000000ULL - 10000001, -2},
        {0, -11644473600LL},
        // 2006-03-20 12:00:00 UTC and 2096-10-02 07:06:40 UTC (4e9 s, past 2038).
        {116444736000000000ULL + 1142856000ULL * 10000000, 1142856000},
        {116444736000000000ULL + 4000000000ULL * 10000000, 4000000000LL},
    };
    for (const ToSecondsCase &c : cases)
        EXPECT_EQ(FileTimeToUnixSeconds(c.ticks), c.seconds) << c.ticks;
}

TEST(FileTimeConversion, SecondsToCountsAndBack) {
    for (int64_t s : {int64_t(0), int64_t(1), int64_t(-1), int64_t(86400), int64_t(1142856000),
                      int64_t(4294967295LL), int64_t(-11644473600LL)}) {
        uint64_t ticks = 1;
        ASSERT_TRUE(UnixSecondsToFileTime(s, ticks)) << s;
        EXPECT_EQ(ticks, static_cast<uint64_t>(s + 11644473600LL) * 10000000u) << s;
        EXPECT_EQ(FileTimeToUnixSeconds(ticks), s);
    }
}

TEST(FileTimeConversion, SecondsOutsideTheCountAreRefused) {
    uint64_t ticks = 7;
    EXPECT_FALSE(UnixSecondsToFileTime(-11644473601LL, ticks));
    EXPECT_FALSE(UnixSecondsToFileTime(INT64_MAX, ticks));
    EXPECT_EQ(ticks, 7u);
    const int64_t last = static_cast<int64_t>(UINT64_MAX / 10000000u) - 11644473600LL;
    EXPECT_TRUE(UnixSecondsToFileTime(last, ticks));
    EXPECT_FALSE(UnixSecondsToFileTime(last + 1, ticks));
}

} // namespace
