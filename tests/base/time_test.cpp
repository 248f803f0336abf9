#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "qv_time.h"

using Quorvel::cQV_DateTime;
using Quorvel::cQV_String;
using Quorvel::cQV_SysTime;
using Quorvel::tTimeb;

namespace {

constexpr uint64_t kNs = 1000000000ULL;

tTimeb T(int32_t sec, unsigned ms) {
    tTimeb t;
    t.sec = sec;
    t.ms = static_cast<uint16_t>(ms);
    return t;
}

std::string Str(const cQV_String &s) {
    return std::string(static_cast<const char *>(s));
}

cQV_DateTime Fields(int y, int mo, int d, int h, int mi, int s, uint32_t nsec = 0) {
    cQV_DateTime dt;
    dt.year = static_cast<uint16_t>(y);
    dt.month = static_cast<uint8_t>(mo);
    dt.day = static_cast<uint8_t>(d);
    dt.weekDay = 0;
    dt.hour = static_cast<uint8_t>(h);
    dt.minute = static_cast<uint8_t>(mi);
    dt.second = static_cast<uint8_t>(s);
    dt.nsec = nsec;
    return dt;
}

// Makes a time zone current for the local-time conversions. POSIX reads TZ again on tzset(); on
// Windows the zone is fixed when the process starts, so a zone counts as active only when the
// process was started with it (the TZ test entries in tests/CMakeLists.txt do that).
class ZoneScope {
public:
    explicit ZoneScope(const char *tz) {
#if defined(_WIN32)
        const char *current = std::getenv("TZ");
        active_ = current && std::strcmp(current, tz) == 0;
#else
        const char *old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
        active_ = true;
#endif
    }
    ~ZoneScope() {
#if !defined(_WIN32)
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
#endif
    }
    bool Active() const {
        return active_;
    }

private:
    bool active_ = false;
    bool hadOld_ = false;
    std::string old_;
};

// ---- cQV_SysTime values

TEST(SysTime, ConstructionAndParts) {
    cQV_SysTime t(2, 500000000);
    EXPECT_EQ(t.nanoseconds, 2500000000ULL);
    EXPECT_EQ(t.GetSeconds(), 2u);
    EXPECT_EQ(t.GetMilliseconds(), 2500u);
    EXPECT_EQ(t.GetFracNanoseconds(), 500000000u);

    t.Set(1, 3000000000u); // ns is not limited to one second
    EXPECT_EQ(t.nanoseconds, 4000000000ULL);
    t.Set(4294967295u, 999999999u); // 64-bit product
    EXPECT_EQ(t.nanoseconds, 4294967295ULL * kNs + 999999999ULL);
    EXPECT_EQ(t.GetSeconds(), 4294967295u);

    // Counts whose quotient exceeds 32 bits keep its low 32 bits.
    cQV_SysTime big(uint64_t(0x100000002ULL) * 1000000ULL);
    EXPECT_EQ(big.GetMilliseconds(), 2u);
}

TEST(SysTime, WrappingArithmeticAndUnsignedOrder) {
    cQV_SysTime t(uint64_t(1000000));
    t.AddMilliseconds(-1);
    EXPECT_TRUE(t.IsZero());
    t.AddMilliseconds(1500);
    EXPECT_EQ(t.nanoseconds, 1500000000ULL);

    cQV_SysTime below = cQV_SysTime(uint64_t(0)) - cQV_SysTime(uint64_t(1));
    EXPECT_EQ(below.nanoseconds, 18446744073709551615ULL);
    cQV_SysTime inf(cQV_SysTime::Infinity);
    EXPECT_TRUE(below > inf);
    EXPECT_TRUE(inf < below);
    EXPECT_TRUE(below >= inf && inf <= below && !(below <= inf));
    EXPECT_TRUE(inf.IsInfinity());
    EXPECT_FALSE((inf + int64_t(1)).IsInfinity());
    EXPECT_FALSE(below.IsInfinity());
    EXPECT_EQ(cQV_SysTime::Infinity, 0x7FFFFFFFFFFFFFFFULL);

    cQV_SysTime s(uint64_t(10));
    s += cQV_SysTime(uint64_t(5));
    s -= int64_t(20); // wraps below zero
    EXPECT_EQ(s.nanoseconds, uint64_t(0) - 5);
    s += uint64_t(5);
    EXPECT_TRUE(s.IsZero());
    EXPECT_FALSE(s.IsNotZero());
}

TEST(SysTime, IntegerArgumentsOfEveryWidthMeanTheSame) {
    // A signed value is taken by its bits: -1 is the largest count, whatever its type.
    cQV_SysTime t;
    t = -1;
    EXPECT_EQ(t.nanoseconds, 18446744073709551615ULL);
    t = -1L;
    EXPECT_TRUE(t == 18446744073709551615ULL);
    t = -1LL;
    EXPECT_TRUE(t == int64_t(-1));
    t = 7u;
    EXPECT_TRUE(t == 7);
    EXPECT_TRUE(t == 7L);
    EXPECT_TRUE(t == 7ULL);
    EXPECT_FALSE(t == 8);
    EXPECT_EQ((t + 3).nanoseconds, 10u);
    EXPECT_EQ((t - 8LL).nanoseconds, 18446744073709551615ULL);
    t += 3L;
    t -= 10u;
    EXPECT_TRUE(t.IsZero());

    cQV_SysTime c(uint64_t(0x8000000000000001ULL));
    EXPECT_EQ(static_cast<int64_t>(c), std::numeric_limits<int64_t>::min() + 1);
    EXPECT_EQ(static_cast<uint64_t>(c), 0x8000000000000001ULL);
}

TEST(SysTime, BothSpellingsOf64BitsWorkEverywhere) {
    // long and long long are each the 64-bit type on one platform or another: neither may be
    // ambiguous, for conversion, assignment, comparison or arithmetic.
    cQV_SysTime t(uint64_t(0xFFFFFFFFFFFFFFFEULL));
    unsigned long long ull = t;
    long long ll = t;
    unsigned long ul = static_cast<unsigned long>(t);
    EXPECT_EQ(ull, 0xFFFFFFFFFFFFFFFEULL);
    EXPECT_EQ(ll, -2LL);
    EXPECT_EQ(static_cast<long long>(t), -2LL);
    EXPECT_EQ((unsigned long long)t, 0xFFFFFFFFFFFFFFFEULL);
    EXPECT_EQ(ul, static_cast<unsigned long>(0xFFFFFFFFFFFFFFFEULL));
    EXPECT_EQ(static_cast<uint64_t>(t), 0xFFFFFFFFFFFFFFFEULL);
    EXPECT_EQ(static_cast<int64_t>(t), -2);

    t = 5ULL;
    EXPECT_TRUE(t == 5LL);
    t = 6LL;
    EXPECT_TRUE(t == 6ULL);
    EXPECT_TRUE(t < 7ULL);
    EXPECT_TRUE(t < 7LL);
    EXPECT_TRUE(t <= 6L);
    EXPECT_TRUE(t > 5UL);
    EXPECT_TRUE(t >= 6LL);
    EXPECT_FALSE(t > 6ULL);
    EXPECT_TRUE(t < -1LL); // -1 is the largest count
    EXPECT_EQ((t + 4ULL).nanoseconds, 10u);
    EXPECT_EQ((t - 1LL).nanoseconds, 5u);
    t += 4LL;
    t -= 2ULL;
    EXPECT_EQ(static_cast<unsigned long long>(t), 8ULL);
}

TEST(SysTime, ScalingTruncatesAndClamps) {
    struct Case {
        uint64_t count;
        double factor;
        bool divide;
        uint64_t expected;
    } cases[] = {
        {10, 2.5, false, 25},
        {10, 4.0, true, 2}, // 2.5 truncated
        {3 * kNs, 0.5, false, 1500000000ULL},
        {10, -1.0, false, 0}, // a negative product gives 0
        {10, std::nan(""), false, 0},
        {10, 1e30, false, std::numeric_limits<uint64_t>::max()},
        {10, 0.0, true, std::numeric_limits<uint64_t>::max()}, // +infinity
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << (c.divide ? " / " : " * ") << c.factor);
        cQV_SysTime t(c.count);
        EXPECT_EQ((c.divide ? t / c.factor : t * c.factor).nanoseconds, c.expected);
    }
}

TEST(SysTime, DurationTexts) {
    struct Case {
        uint64_t count;
        const char *full;
        const char *shortText;
    } cases[] = {
        {0, "0:00:00.000000000", "0:00:00"},
        {3723 * kNs + 500000000, "1:02:03.500000000", "1:02:03"},
        {90061 * kNs + 5, "25:01:01.000000005", "1:01:01"},
        {(1768478400ULL - 3 * 3600 + 5 * 60 + 7) * kNs, "491241:05:07.000000000", "9:05:07"},
    };
    for (const Case &c : cases) {
        cQV_SysTime t(c.count);
        EXPECT_EQ(Str(t.FormatTime()), c.full);
        EXPECT_EQ(Str(t.FormatTimeShort()), c.shortText);
    }
}

// ---- tTimeb values

TEST(Timeb, ConstructionAssignmentAndMilliseconds) {
    struct Case {
        long sec;
        unsigned ms;
        int32_t expSec;
        unsigned expMs;
    } ctor[] = {{5, 2500, 7, 500}, {0, 999, 0, 999}, {-3, 1000, -2, 0}, {1, 0, 1, 0}};
    for (const Case &c : ctor) {
        tTimeb t(c.sec, c.ms);
        EXPECT_EQ(t.sec, c.expSec);
        EXPECT_EQ(t.ms, c.expMs);
    }

    struct Assign {
        long ms;
        int32_t expSec;
        unsigned expMs;
    } assign[] = {{1500, 1, 500},   {999, 0, 999},  {0, 0, 0},
                  {-1500, -2, 500}, {-1000, -1, 0}, {-1, -1, 999}};
    for (const Assign &a : assign) {
        SCOPED_TRACE(a.ms);
        tTimeb t;
        t = a.ms;
        EXPECT_EQ(t.sec, a.expSec);
        EXPECT_EQ(t.ms, a.expMs);
        EXPECT_EQ(t.GetMilliseconds(), a.ms); // floor seconds + ms give the count back
    }
}

TEST(Timeb, ArithmeticKeepsMillisecondsInRange) {
    struct Case {
        const char *what;
        tTimeb result;
        int32_t sec;
        unsigned ms;
    } cases[] = {
        {"sum with carry", T(1, 600) + T(2, 400), 4, 0},
        {"sum without carry", T(1, 100) + T(2, 400), 3, 500},
        {"difference with borrow", T(1, 0) - T(2, 500), -2, 500},
        {"difference", T(5, 700) - T(2, 500), 3, 200},
        {"plus long adds seconds", T(1, 250) + 5L, 6, 250},
        {"divide", T(1, 900) / 0.25, 7, 600},
        {"multiply", T(1, 500) * 3.0, 4, 500},
        {"multiply by fraction", T(10, 0) * 0.15, 1, 500},
        {"negative factor", T(1, 500) * -1.0, -2, 500},
        {"negative time, positive factor", T(-1, 0) * 0.5, -1, 500},
        {"negative time, negative factor", T(-2, 500) * -2.0, 3, 0},
        {"divide negative time", T(-1, 0) / 4.0, -1, 750},
        {"clamped", T(2000000000, 0) * 2.0, std::numeric_limits<int32_t>::max(), 0},
        {"clamped low", T(2000000000, 0) * -2.0, std::numeric_limits<int32_t>::min(), 0},
        {"NaN factor", T(3, 3) * std::nan(""), 0, 0},
        {"divide by zero", T(3, 3) / 0.0, std::numeric_limits<int32_t>::max(), 0},
        {"divide ms only by zero", T(0, 500) / 0.0, std::numeric_limits<int32_t>::max(), 0},
        {"divide negative by zero", T(-1, 500) / 0.0, std::numeric_limits<int32_t>::min(), 0},
        {"infinite factor", T(1, 0) * INFINITY, std::numeric_limits<int32_t>::max(), 0},
        {"negative infinite factor", T(1, 0) * -INFINITY, std::numeric_limits<int32_t>::min(), 0},
        {"zero times infinity", T(0, 0) * INFINITY, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.result.sec, c.sec);
        EXPECT_EQ(c.result.ms, c.ms);
    }

    struct Add {
        tTimeb start;
        long n;
        int32_t sec;
        unsigned ms;
    } adds[] = {{T(1, 900), 200, 2, 100},
                {T(1, 0), 2500, 3, 500},
                {T(1, 0), -1, 0, 999},
                {T(0, 200), -1300, -2, 900},
                {T(-2, 500), 1500, 0, 0}};
    for (const Add &a : adds) {
        SCOPED_TRACE(a.n);
        tTimeb t = a.start;
        t.AddMilliseconds(a.n);
        EXPECT_EQ(t.sec, a.sec);
        EXPECT_EQ(t.ms, a.ms);
    }
}

TEST(Timeb, ComparisonsAndMillisecondCount) {
    EXPECT_TRUE(T(1, 500) == T(1, 500));
    EXPECT_FALSE(T(1, 500) == T(1, 501));
    EXPECT_TRUE(T(-1, 900) < T(0, 0));
    EXPECT_TRUE(T(1, 100) < T(1, 200));
    EXPECT_FALSE(T(1, 200) < T(1, 200));
    EXPECT_TRUE(T(2, 0) > T(1, 999));
    EXPECT_FALSE(T(1, 999) > T(2, 0));
    EXPECT_EQ(T(-2, 500).GetMilliseconds(), -1500);
    EXPECT_EQ(T(2000000, 1).GetMilliseconds(), 2000000001L);
    EXPECT_EQ(T(3000000, 0).GetMilliseconds(), -1294967296L); // 32-bit arithmetic wraps
}

// ---- clocks

TEST(Clock, ReadingsOfTheThreeClocksAgree) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        cQV_SysTime s;
        s.GetSysTime();
        tTimeb b;
        b.GetTime();
        unsigned w = Quorvel::osGetSysTime();
        std::time_t c = std::time(nullptr);
        EXPECT_LT(b.ms, 1000);
        if (s.GetSeconds() == static_cast<unsigned>(b.sec) && w == s.GetSeconds() &&
            static_cast<unsigned>(c) == w)
            return;
        // A second boundary passed between the readings (std::time may read a coarser clock that
        // turns a few milliseconds late); read again a little later.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "the clocks disagree in three attempts";
}

TEST(Clock, TimingMeasuresElapsedTimeAndNeverGoesBack) {
    tTimeb b;
    b.GetTime();
    cQV_SysTime s;
    s.GetSysTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    // Lower bounds only: a busy machine may take longer. The millisecond clocks of some
    // platforms tick in steps of up to 16 ms.
    EXPECT_GE(b.GetTiming(), 40);
    EXPECT_GE(s.GetTiming(), 40u);

    tTimeb future = b + 100L;
    EXPECT_EQ(future.GetTiming(), 0);
    tTimeb sameSecondLater = b;
    sameSecondLater.ms = 999;
    sameSecondLater.sec = b.sec + 1000; // far ahead
    EXPECT_EQ(sameSecondLater.GetTiming(), 0);
}

TEST(Clock, SysTimeDiffTakesUnsignedTimes) {
    EXPECT_EQ(Quorvel::osGetSysTimeDiff(10, 3), 7.0);
    EXPECT_EQ(Quorvel::osGetSysTimeDiff(3, 10), -7.0);
    // Across the point where a signed 32-bit time would overflow (2038).
    EXPECT_EQ(Quorvel::osGetSysTimeDiff(0x80000001u, 0x7FFFFFFFu), 2.0);
}

// ---- calendar conversion in any zone

TEST(DateTime, ToSysTimeRefusesFieldsThatAreNoDateAndTime) {
    struct Case {
        const char *what;
        cQV_DateTime dt;
    } bad[] = {
        {"month 0", Fields(2026, 0, 10, 12, 0, 0)},
        {"month 13", Fields(2026, 13, 10, 12, 0, 0)},
        {"day 0", Fields(2026, 5, 0, 12, 0, 0)},
        {"31 April", Fields(2026, 4, 31, 12, 0, 0)},
        {"32 January", Fields(2026, 1, 32, 12, 0, 0)},
        {"29 February of a common year", Fields(2026, 2, 29, 12, 0, 0)},
        {"29 February 1900", Fields(1900, 2, 29, 12, 0, 0)},
        {"hour 24", Fields(2026, 5, 10, 24, 0, 0)},
        {"minute 60", Fields(2026, 5, 10, 12, 60, 0)},
        {"second 60", Fields(2026, 5, 10, 12, 0, 60)},
        {"before 1970", Fields(1960, 5, 10, 12, 0, 0)},
        {"after the range", Fields(2600, 5, 10, 12, 0, 0)},
    };
    for (const Case &c : bad) {
        SCOPED_TRACE(c.what);
        cQV_SysTime t(uint64_t(777));
        EXPECT_FALSE(c.dt.ToSysTime(t));
        EXPECT_EQ(t.nanoseconds, 777u); // unchanged
    }

    cQV_DateTime good[] = {Fields(2024, 2, 29, 12, 0, 0), Fields(2000, 2, 29, 12, 0, 0),
                           Fields(2026, 4, 30, 23, 59, 59), Fields(2026, 12, 31, 0, 0, 0)};
    for (const cQV_DateTime &dt : good) {
        SCOPED_TRACE(Str(const_cast<cQV_DateTime &>(dt).ToString()));
        cQV_SysTime t(uint64_t(0));
        ASSERT_TRUE(dt.ToSysTime(t));
        cQV_DateTime back;
        back = t;
        EXPECT_EQ(back.year, dt.year);
        EXPECT_EQ(back.month, dt.month);
        EXPECT_EQ(back.day, dt.day);
        EXPECT_EQ(back.hour, dt.hour);
        EXPECT_EQ(back.minute, dt.minute);
        EXPECT_EQ(back.second, dt.second);
    }
}

TEST(DateTime, TextAndCopy) {
    cQV_DateTime dt = Fields(2026, 3, 7, 9, 5, 1, 987654321);
    EXPECT_EQ(Str(dt.ToString()), "2026/03/07 09:05:01.987");
    cQV_DateTime copy;
    copy = dt;
    EXPECT_EQ(Str(copy.ToString()), "2026/03/07 09:05:01.987");
    EXPECT_EQ(copy.nsec, 987654321u);
}

TEST(DateTime, ConversionsAreSafeFromManyThreads) {
    // Each thread converts its own times; a conversion that kept its result in shared static
    // storage would hand one thread another's fields.
    const uint64_t seconds[4] = {1768478400ULL, 1784116800ULL, 1000000000ULL, 1900000000ULL};
    std::string expected[4];
    for (int i = 0; i < 4; ++i) {
        cQV_SysTime t(seconds[i] * kNs);
        expected[i] = Str(t.ToString());
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < 2000; ++n) {
                cQV_SysTime t(seconds[i] * kNs);
                tTimeb b(static_cast<long>(seconds[i]), 0);
                if (Str(t.ToString()) != expected[i] || Str(b.ToString()) != expected[i])
                    ++mismatches[i];
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(mismatches[i], 0) << "thread " << i;
}

// The current-time texts agree with the calendar fields of the clock read around them.
TEST(DateTime, CurrentLocalTimeTexts) {
    static const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int attempt = 0; attempt < 3; ++attempt) {
        cQV_SysTime before;
        before.GetSysTime();
        std::string text = Str(Quorvel::osGetLocalTimeStr());
        std::string shortText = Str(Quorvel::osGetLocalShortTimeStr());
        cQV_SysTime after;
        after.GetSysTime();
        if (before.GetSeconds() != after.GetSeconds()) continue;

        cQV_DateTime now;
        now = before;
        char expected[64];
        std::snprintf(expected, sizeof expected, "%s %s %2d %02d:%02d:%02d %d\n",
                      kDays[now.weekDay], kMonths[now.month - 1], now.day, now.hour, now.minute,
                      now.second, now.year);
        EXPECT_EQ(text, expected);
        EXPECT_EQ(text.size(), 25u);
        EXPECT_EQ(text.back(), '\n');
        char expectedShort[16];
        std::snprintf(expectedShort, sizeof expectedShort, "%02d:%02d:%02d", now.hour, now.minute,
                      now.second);
        EXPECT_EQ(shortText, expectedShort);
        return;
    }
    ADD_FAILURE() << "the clock crossed a second boundary in three attempts";
}

// ---- local time under given zones

struct ToLocalCase {
    int64_t utc;
    const char *local; // "YYYY/MM/DD hh:mm:ss"
    int weekDay;
    bool historical; // depends on rules older than the current ones: zone databases only
};

struct ToUtcCase {
    int y, mo, d, h, mi, s;
    int64_t utc; // -1: refused
};

struct Zone {
    const char *tz;
    std::vector<ToLocalCase> toLocal;
    std::vector<ToUtcCase> toUtc;
};

const std::vector<ToLocalCase> kBerlinToLocal = {
    {1768478400, "2026/01/15 13:00:00", 4, false}, // winter: UTC+1
    {1784116800, "2026/07/15 14:00:00", 3, false}, // summer: UTC+2
    {1774745999, "2026/03/29 01:59:59", 0, false}, // the last second before the change
    {1774746000, "2026/03/29 03:00:00", 0, false}, // clocks go forward
    {1792888200, "2026/10/25 02:30:00", 0, false}, // 02:30 summer time
    {1792891800, "2026/10/25 02:30:00", 0, false}, // 02:30 again, winter time
    {173448000, "1975/07/01 13:00:00", 2, true},   // no summer time in 1975
};
const std::vector<ToUtcCase> kBerlinToUtc = {
    {2026, 1, 15, 13, 0, 0, 1768478400},
    {2026, 7, 15, 14, 0, 0, 1784116800},
    {2026, 3, 29, 3, 0, 0, 1774746000},
    {2026, 3, 29, 2, 30, 0, 1774747800},  // skipped: 03:30
    {2026, 10, 25, 2, 30, 0, 1792888200}, // first of two
    {2026, 10, 25, 1, 59, 59, 1792886399},
    {2026, 10, 25, 3, 0, 0, 1792893600},
    {1970, 1, 1, 0, 59, 59, -1}, // 1969 in UTC
    {1970, 1, 1, 1, 0, 0, 0},
};
const std::vector<ToLocalCase> kNewYorkToLocal = {
    {1768478400, "2026/01/15 07:00:00", 4, false}, {1784116800, "2026/07/15 08:00:00", 3, false},
    {1772953199, "2026/03/08 01:59:59", 0, false}, {1772953200, "2026/03/08 03:00:00", 0, false},
    {1793511000, "2026/11/01 01:30:00", 0, false}, {1793514600, "2026/11/01 01:30:00", 0, false},
    {3600, "1969/12/31 20:00:00", 3, false},
};
const std::vector<ToUtcCase> kNewYorkToUtc = {
    {2026, 1, 15, 7, 0, 0, 1768478400},  {2026, 7, 15, 8, 0, 0, 1784116800},
    {2026, 3, 8, 2, 30, 0, 1772955000},  // skipped: 03:30 summer time
    {2026, 11, 1, 1, 30, 0, 1793511000}, // first of two
    {1969, 12, 31, 20, 0, 0, 3600},      {1969, 12, 31, 18, 59, 59, -1},
};

std::vector<Zone> Zones() {
    return {
        {"UTC0",
         {{0, "1970/01/01 00:00:00", 4, false},
          {-1, "1969/12/31 23:59:59", 3, false},
          {1709208000, "2024/02/29 12:00:00", 4, false}},
         {{1970, 1, 1, 0, 0, 0, 0},
          {1969, 12, 31, 23, 59, 59, -1},
          {2024, 2, 29, 12, 0, 0, 1709208000}}},
            {"CET-1CEST,M3.5.0,M10.5.0/3", kBerlinToLocal, kBerlinToUtc},
            {"EST5EDT,M3.2.0,M11.1.0", kNewYorkToLocal, kNewYorkToUtc},
#if !defined(_WIN32)
            {"Europe/Berlin", kBerlinToLocal, kBerlinToUtc},
            {"America/New_York", kNewYorkToLocal, kNewYorkToUtc},
#endif
    };
}

// Zone database names carry the zone's history; POSIX rule strings apply one rule to every year.
bool IsZoneDatabaseName(const char *tz) {
    return std::strchr(tz, ',') == nullptr && std::strchr(tz, '/') != nullptr;
}

TEST(LocalTime, FollowsTheZoneRulesOfTheDateConverted) {
    int zonesRun = 0;
    for (const Zone &zone : Zones()) {
        ZoneScope scope(zone.tz);
        if (!scope.Active()) continue;
        ++zonesRun;
        for (const ToLocalCase &c : zone.toLocal) {
            if (c.historical && !IsZoneDatabaseName(zone.tz)) continue;
            SCOPED_TRACE(testing::Message() << "TZ=" << zone.tz << " utc " << c.utc);
            if (c.utc >= 0) {
                cQV_SysTime t(static_cast<uint64_t>(c.utc) * kNs + 123456789u);
                cQV_DateTime dt;
                dt = t;
                EXPECT_EQ(Str(dt.ToString()), std::string(c.local) + ".123");
                EXPECT_EQ(dt.weekDay, c.weekDay);
                EXPECT_EQ(dt.nsec, 123456789u);
                EXPECT_EQ(Str(t.ToString()), std::string(c.local) + ".123");
            }
            tTimeb b(static_cast<long>(c.utc), 45);
            EXPECT_EQ(Str(b.ToString()), std::string(c.local) + ".045");
        }
    }
    if (zonesRun == 0) GTEST_SKIP() << "this platform fixes the zone at process start";
}

TEST(LocalTime, ToSysTimeResolvesLocalFieldsUnderTheZoneRules) {
    int zonesRun = 0;
    for (const Zone &zone : Zones()) {
        ZoneScope scope(zone.tz);
        if (!scope.Active()) continue;
        ++zonesRun;
        for (const ToUtcCase &c : zone.toUtc) {
            SCOPED_TRACE(testing::Message() << "TZ=" << zone.tz << " " << c.y << "-" << c.mo << "-"
                                            << c.d << " " << c.h << ":" << c.mi << ":" << c.s);
            cQV_DateTime dt = Fields(c.y, c.mo, c.d, c.h, c.mi, c.s, 250000000);
            cQV_SysTime t(uint64_t(42));
            if (c.utc < 0) {
                EXPECT_FALSE(dt.ToSysTime(t));
                EXPECT_EQ(t.nanoseconds, 42u);
            } else {
                EXPECT_TRUE(dt.ToSysTime(t));
                EXPECT_EQ(t.nanoseconds, static_cast<uint64_t>(c.utc) * kNs + 250000000u);
            }
        }
    }
    if (zonesRun == 0) GTEST_SKIP() << "this platform fixes the zone at process start";
}

// Daylight saving in New York began on the first Sunday of April until 2006 and on the second
// Sunday of March since 2007: 2006-03-20 12:00 UTC was 07:00 standard time, not 08:00. A zone
// database name carries that history on POSIX; on Windows the zone is fixed when the process starts
// and the system's own zone records carry it (the process runs under TZ=EST5EDT for this).
TEST(ZoneHistory, NewYorkIn2006FollowsThatYearsRule) {
#if defined(_WIN32)
    ZoneScope scope("EST5EDT,M3.2.0,M11.1.0");
#else
    ZoneScope scope("America/New_York");
#endif
    if (!scope.Active()) GTEST_SKIP() << "this platform fixes the zone at process start";
    const int64_t utc = 1142856000; // 2006-03-20 12:00:00 UTC, a Monday
    cQV_SysTime t(static_cast<uint64_t>(utc) * kNs);
    EXPECT_EQ(Str(t.ToString()), "2006/03/20 07:00:00.000");
    cQV_DateTime dt;
    dt = t;
    EXPECT_EQ(dt.weekDay, 1);
    EXPECT_EQ(Str(tTimeb(static_cast<long>(utc), 0).ToString()), "2006/03/20 07:00:00.000");
    // The way back resolves the local fields under the same year's rule.
    cQV_SysTime back(uint64_t(0));
    EXPECT_TRUE(Fields(2006, 3, 20, 7, 0, 0, 0).ToSysTime(back));
    EXPECT_EQ(back.nanoseconds, static_cast<uint64_t>(utc) * kNs);
    // A date under the current rule in the same zone: 2007-03-20 12:00 UTC is 08:00 summer time.
    cQV_SysTime t2007(static_cast<uint64_t>(1174392000) * kNs);
    EXPECT_EQ(Str(t2007.ToString()), "2007/03/20 08:00:00.000");
}

TEST(LocalTime, ToSysTimeCoversTheWholeCountRange) {
    ZoneScope scope("UTC0");
    if (!scope.Active()) GTEST_SKIP() << "this platform fixes the zone at process start";
    cQV_SysTime t(uint64_t(1));
    EXPECT_TRUE(Fields(1970, 1, 1, 0, 0, 0, 0).ToSysTime(t));
    EXPECT_EQ(t.nanoseconds, 0u);
    cQV_DateTime zero;
    zero = t;
    EXPECT_EQ(Str(zero.ToString()), "1970/01/01 00:00:00.000");
    EXPECT_EQ(zero.weekDay, 4);

    // 2554-07-21 23:34:33.709551615 UTC is the largest count.
    EXPECT_TRUE(Fields(2554, 7, 21, 23, 34, 33, 709551615).ToSysTime(t));
    EXPECT_EQ(t.nanoseconds, std::numeric_limits<uint64_t>::max());
    cQV_DateTime last;
    last = t;
    EXPECT_EQ(Str(last.ToString()), "2554/07/21 23:34:33.709");
    t = uint64_t(5);
    EXPECT_FALSE(Fields(2554, 7, 21, 23, 34, 33, 709551616).ToSysTime(t));
    EXPECT_FALSE(Fields(2554, 7, 21, 23, 34, 34, 0).ToSysTime(t));
    EXPECT_EQ(t.nanoseconds, 5u);
}

} // namespace
