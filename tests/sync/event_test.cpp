#include "qv_event.h"

#include "qv_error.h"
#include "qv_thread.h"
#include "sync_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

using namespace Quorvel;
using qvtest::WaitUntil;
using qvtest::Worker;

namespace {

const unsigned kInfinite = 4294967295u;

// A row of events, all destroyed at the end of the test.
struct Events {
    std::vector<void *> h;
    explicit Events(int n, bool signalled = false) : h(n, nullptr) {
        for (void *&e : h) {
            cQV_Error err;
            EXPECT_TRUE(osCreateEvent(&err, signalled, e)) << err.text;
            EXPECT_NE(e, nullptr);
        }
    }
    ~Events() {
        for (void *&e : h)
            osDestroyEvent(e);
    }
    void *&operator[](int i) { return h[i]; }
    int Wait(unsigned timeout) {
        return osWaitForEvents(static_cast<int>(h.size()), h.data(), timeout);
    }
};

long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

TEST(SharedEvents, ExistFromLoadInTheirStates) {
    void *&on = osGetSignalledEvent();
    void *&off = osGetNonSignalledEvent();
    ASSERT_NE(on, nullptr);
    ASSERT_NE(off, nullptr);
    EXPECT_NE(on, off);
    // References to the stored handles, not copies.
    EXPECT_EQ(&osGetSignalledEvent(), &on);
    EXPECT_EQ(&osGetNonSignalledEvent(), &off);

    for (unsigned timeout : {0u, 10u, kInfinite})
        EXPECT_EQ(osWaitForEvents(1, &on, timeout), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(osWaitForEvents(1, &off, 0), -1);
    EXPECT_LT(MsSince(start), 1000);
}

TEST(Event, StartsInTheRequestedStateAndFollowsSetAndReset) {
    Events on(1, true), off(1, false);
    EXPECT_EQ(on.Wait(0), 0);
    EXPECT_EQ(on.Wait(0), 0) << "waiting must not reset the event";
    EXPECT_EQ(off.Wait(0), -1);

    osSetEvent(off[0]);
    EXPECT_EQ(off.Wait(0), 0);
    osSetEvent(off[0]); // already set: stays set
    EXPECT_EQ(off.Wait(0), 0);
    osResetEvent(off[0]);
    EXPECT_EQ(off.Wait(0), -1);
    osResetEvent(off[0]); // already reset: stays reset
    EXPECT_EQ(off.Wait(0), -1);
}

struct AnyCase {
    std::vector<int> signalled;
    int expected;
};

void PrintTo(const AnyCase &c, std::ostream *os) {
    *os << "set {";
    for (int i : c.signalled)
        *os << ' ' << i;
    *os << " } -> " << c.expected;
}

class WaitForAny : public ::testing::TestWithParam<AnyCase> {};

TEST_P(WaitForAny, ReturnsTheLowestSignalledIndex) {
    Events ev(4);
    for (int i : GetParam().signalled)
        osSetEvent(ev[i]);
    EXPECT_EQ(ev.Wait(0), GetParam().expected);
    EXPECT_EQ(ev.Wait(20), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Event, WaitForAny,
                         ::testing::Values(AnyCase{{1, 3}, 1}, AnyCase{{3}, 3}, AnyCase{{0}, 0},
                                           AnyCase{{3, 2, 1, 0}, 0}, AnyCase{{2, 3}, 2},
                                           AnyCase{{}, -1}),
                         [](const ::testing::TestParamInfo<AnyCase> &info) {
                             std::string name = "Set";
                             for (int i : info.param.signalled)
                                 name += std::to_string(i);
                             return info.param.signalled.empty() ? std::string("NoneSet") : name;
                         });

TEST(Event, WaitRefusesBadArgumentsWithMinusOne) {
    Events ev(65, true);
    EXPECT_EQ(osWaitForEvents(64, ev.h.data(), 0), 0);
    EXPECT_EQ(osWaitForEvents(64, ev.h.data() + 1, kInfinite), 0);
    for (int count : {0, -1, 65, 1000}) {
        EXPECT_EQ(osWaitForEvents(count, ev.h.data(), 0), -1) << "count " << count;
        EXPECT_EQ(osWaitForEvents(count, ev.h.data(), kInfinite), -1) << "count " << count;
    }
    EXPECT_EQ(osWaitForEvents(1, nullptr, 0), -1);
    void *withNull[2] = {ev[0], nullptr};
    EXPECT_EQ(osWaitForEvents(2, withNull, 0), -1);
    void *twice[3] = {ev[0], ev[1], ev[0]};
    EXPECT_EQ(osWaitForEvents(3, twice, 0), -1);
    EXPECT_EQ(osWaitForEvents(3, twice, kInfinite), -1);
}

TEST(Event, FiniteWaitTimesOut) {
    Events ev(3);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ev.Wait(80), -1);
    EXPECT_GE(MsSince(start), 79);
}

TEST(Event, SetFromAnotherThreadWakesAWaiterWithItsIndex) {
    for (int target = 0; target < 3; ++target) {
        Events ev(3);
        std::atomic<int> got{-2};
        Worker waiter([&] { got.store(ev.Wait(kInfinite)); });
        osSleep(20);
        EXPECT_EQ(got.load(), -2);
        osSetEvent(ev[target]);
        waiter.Join();
        EXPECT_EQ(got.load(), target);
    }
}

TEST(Event, FiniteWaitEndsEarlyWhenSet) {
    Events ev(2);
    std::atomic<int> got{-2};
    const auto start = std::chrono::steady_clock::now();
    Worker waiter([&] { got.store(ev.Wait(60000)); });
    osSleep(20);
    osSetEvent(ev[1]);
    waiter.Join();
    EXPECT_EQ(got.load(), 1);
    EXPECT_LT(MsSince(start), 30000);
}

TEST(Event, OneSetReleasesEveryWaiter) {
    Events ev(1);
    std::atomic<int> released{0};
    std::vector<std::unique_ptr<Worker>> waiters;
    for (int i = 0; i < 6; ++i) {
        waiters.emplace_back(new Worker([&] {
            if (ev.Wait(kInfinite) == 0) released.fetch_add(1);
        }));
    }
    osSleep(20);
    osSetEvent(ev[0]);
    waiters.clear();
    EXPECT_EQ(released.load(), 6);
}

TEST(Event, SetReleasesWaitersEvenWhenResetAtOnce) {
    // A set releases every thread waiting at that moment, as on Windows, even if the event is
    // reset before the waiter runs. The second event ends the wait of a thread that was not yet
    // waiting at the set; a few tries make sure that one of them catches the waiter waiting.
    int released = 0;
    for (int attempt = 0; attempt < 5 && released == 0; ++attempt) {
        Events ev(2);
        std::atomic<int> got{-2};
        Worker waiter([&] { got.store(ev.Wait(kInfinite)); });
        osSleep(50);
        osSetEvent(ev[0]);
        osResetEvent(ev[0]);
        osSleep(50);
        osSetEvent(ev[1]);
        waiter.Join();
        ASSERT_GE(got.load(), 0);
        if (got.load() == 0) ++released;
    }
    EXPECT_EQ(released, 1) << "no waiter was released by a set followed by a reset";
}

TEST(Event, PingPongLosesNoWakeUp) {
    // Two threads hand a turn back and forth; a lost wake-up shows as a wait that times out.
    Events ev(2);
    const int rounds = 5000;
    std::atomic<int> failures{0};
    Worker pong([&] {
        for (int i = 0; i < rounds; ++i) {
            if (osWaitForEvents(1, &ev[0], qvtest::kBoundMs) != 0) {
                failures.fetch_add(1);
                return;
            }
            osResetEvent(ev[0]);
            osSetEvent(ev[1]);
        }
    });
    for (int i = 0; i < rounds; ++i) {
        osSetEvent(ev[0]);
        if (osWaitForEvents(1, &ev[1], qvtest::kBoundMs) != 0) {
            failures.fetch_add(1);
            break;
        }
        osResetEvent(ev[1]);
    }
    pong.Join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(Event, WaitForAnyUnderRacingSettersReportsTheSetEvent) {
    // Each round another thread sets one of eight events; the waiter must report exactly it.
    Events ev(8);
    Events ack(1);
    const int rounds = 2000;
    std::atomic<int> wrong{0};
    Worker waiter([&] {
        for (int i = 0; i < rounds; ++i) {
            const int got = ev.Wait(qvtest::kBoundMs);
            if (got != i % 8) {
                wrong.fetch_add(1);
                return;
            }
            osResetEvent(ev[got]);
            osSetEvent(ack[0]);
        }
    });
    for (int i = 0; i < rounds && wrong.load() == 0; ++i) {
        osSetEvent(ev[i % 8]);
        if (ack.Wait(qvtest::kBoundMs) != 0) break;
        osResetEvent(ack[0]);
    }
    waiter.Join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(Event, DestroyClearsTheHandleAndNullHandlesAreIgnored) {
    void *e = nullptr;
    ASSERT_TRUE(osCreateEvent(nullptr, true, e));
    osDestroyEvent(e);
    EXPECT_EQ(e, nullptr);
    osDestroyEvent(e);
    osSetEvent(e);
    osResetEvent(e);
    EXPECT_EQ(e, nullptr);
}

} // namespace
