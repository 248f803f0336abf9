// The identifier generator's waiting rule on a made-up clock, and its byte layout.
#include "qv_uid.h"
#include "uid_gen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace Quorvel;
using namespace Quorvel::detail;

namespace {

// A scripted clock: each reading takes the next time of the script (the last one repeats), and
// the waits are counted.
struct Script {
    std::vector<tTimeb> times;
    size_t next = 0;
    int reads = 0, sleeps = 0, pauses = 0;
};
Script gScript;

void ScriptNow(tTimeb &t) {
    ++gScript.reads;
    t = gScript.times[std::min(gScript.next, gScript.times.size() - 1)];
    ++gScript.next;
}
void ScriptSleep(unsigned ms) {
    EXPECT_EQ(ms, 1u);
    ++gScript.sleeps;
}
void ScriptPause() {
    ++gScript.pauses;
}
const tUidClock kScriptClock = {ScriptNow, ScriptSleep, ScriptPause};

tTimeb T(long sec, unsigned ms) {
    return tTimeb(sec, ms);
}

TEST(NextUidTime, WaitsUntilTheClockPassesTheLastTime) {
    struct Case {
        const char *name;
        std::vector<tTimeb> times;
        int sleeps, pauses; // waits expected before the result
        tTimeb result;
    };
    const tTimeb last = T(1000, 500);
    const Case cases[] = {
        {"already later", {T(1000, 501)}, 0, 0, T(1000, 501)},
        {"a later second", {T(1001, 0)}, 0, 0, T(1001, 0)},
        {"same millisecond, then the next",
         {T(1000, 500), T(1000, 500), T(1000, 500), T(1000, 501)},
         0,
         3,
         T(1000, 501)},
        {"same millisecond, then a jump", {T(1000, 500), T(1002, 3)}, 0, 1, T(1002, 3)},
        // A clock set back: earlier milliseconds, then earlier seconds, then the last time itself.
        {"set back", {T(1000, 499), T(999, 999), T(1000, 500), T(1000, 501)}, 2, 1, T(1000, 501)},
        {"earlier second, later ms", {T(999, 900), T(1000, 600)}, 1, 0, T(1000, 600)},
    };
    for (const Case &c : cases) {
        gScript = Script();
        gScript.times = c.times;
        const tTimeb got = NextUidTime(last, kScriptClock);
        EXPECT_TRUE(got == c.result) << c.name << ": " << got.sec << "." << got.ms;
        // A reading at the last time is followed by a pause, one before it by a sleep.
        EXPECT_EQ(gScript.sleeps, c.sleeps) << c.name;
        EXPECT_EQ(gScript.pauses, c.pauses) << c.name;
        EXPECT_EQ(gScript.reads, static_cast<int>(c.times.size())) << c.name;
    }
}

TEST(NextUidTime, AClockThatStaysFallsBackToSleeping) {
    gScript = Script();
    std::vector<tTimeb> times(kUidSpinPauses + 11, T(5, 5));
    times.push_back(T(5, 6));
    gScript.times = times;
    const tTimeb got = NextUidTime(T(5, 5), kScriptClock);
    EXPECT_TRUE(got == T(5, 6));
    EXPECT_EQ(gScript.pauses, kUidSpinPauses);
    EXPECT_EQ(gScript.sleeps, 11);
}

TEST(UidLayout, FieldsAndTheirByteOrder) {
    const unsigned char machine[6] = {0x02, 0x42, 0xac, 0x11, 0x00, 0x07};
    unsigned char out[16];
    std::memset(out, 0xee, sizeof out);
    WriteUid(out, machine, 0x01020304u, T(0x0a0b0c0d, 0x3e7));
    const unsigned char expected[16] = {0x02, 0x42, 0xac, 0x11, 0x00, 0x07, 0x04, 0x03,
                                        0x02, 0x01, 0x0d, 0x0c, 0x0b, 0x0a, 0xe7, 0x03};
    EXPECT_EQ(std::memcmp(out, expected, 16), 0);

    unsigned char fallback[6];
    UidMachineFromTime(T(0x11223344, 999), fallback);
    const unsigned char big[6] = {0x11, 0x22, 0x33, 0x44, 0x03, 0xe7};
    EXPECT_EQ(std::memcmp(fallback, big, 6), 0);
}

// The time fields are little-endian: an identifier made later can compare smaller.
TEST(UidLayout, OrderIsNotGenerationOrder) {
    const unsigned char machine[6] = {1, 2, 3, 4, 5, 6};
    cQV_Uid earlier, later;
    WriteUid(earlier.Buffer(), machine, 42, T(2000, 255));
    WriteUid(later.Buffer(), machine, 42, T(2000, 256));
    EXPECT_EQ(later.Cmp(earlier), -1);
    // A later second whose low byte wraps.
    WriteUid(earlier.Buffer(), machine, 42, T(0x1ff, 999));
    WriteUid(later.Buffer(), machine, 42, T(0x200, 0));
    EXPECT_EQ(later.Cmp(earlier), -1);
}

} // namespace
