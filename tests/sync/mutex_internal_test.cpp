// The read/write mutex's counters, owner and release event, seen from inside.
#include "qv_event.h"
#include "qv_thread.h"
#include "sync/rwmutex.h"
#include "sync_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace Quorvel;
using qvtest::WaitUntil;

namespace {

struct RwMutexState : ::testing::Test {
    void *handle = nullptr;
    detail::tRwMutex *m = nullptr;
    void SetUp() override {
        ASSERT_TRUE(osCreateMutex(nullptr, handle));
        m = static_cast<detail::tRwMutex *>(handle);
    }
    void TearDown() override { osDestroyMutex(handle); }

    int Holds() const { return detail::RwMutexHolds(m->word.load()); }
    unsigned Owner() const { return detail::RwMutexOwner(m->word.load()); }
    // The waiter flag: set by a thread that must wait, in the word every release looks at.
    bool Flagged() const { return detail::RwMutexFlagged(m->word.load()); }
    bool ReleaseSignalled() { return osWaitForEvents(1, &m->released, 0) == 0; }
};

TEST_F(RwMutexState, StartsFreeWithNoOwner) {
    EXPECT_EQ(Holds(), 0);
    EXPECT_EQ(Owner(), 0u);
    EXPECT_EQ(m->waiters, 0u);
    EXPECT_FALSE(Flagged());
    EXPECT_NE(m->guard, nullptr);
    EXPECT_NE(m->released, nullptr);
    EXPECT_FALSE(ReleaseSignalled());
}

TEST_F(RwMutexState, NestedWriteAndReadHoldsCountAsWriteLevels) {
    const unsigned self = osGetCurrentThreadId();
    osAcquireMutexWrite(handle);
    EXPECT_EQ(Holds(), -1);
    EXPECT_EQ(Owner(), self);
    osAcquireMutexWrite(handle);
    osAcquireMutexRead(handle);
    EXPECT_EQ(Holds(), -3);
    for (int expected : {-2, -1}) {
        osReleaseMutex(handle);
        EXPECT_EQ(Holds(), expected);
    }
    osReleaseMutex(handle);
    EXPECT_EQ(Holds(), 0);
    EXPECT_EQ(Owner(), self) << "the owner stays recorded after release";
    // Nobody waited: the holds and releases never touched the event.
    EXPECT_FALSE(ReleaseSignalled());
}

TEST_F(RwMutexState, ReadHoldsCountUpAndDown) {
    osAcquireMutexRead(handle);
    osAcquireMutexRead(handle);
    EXPECT_EQ(Holds(), 2);
    osReleaseMutex(handle);
    EXPECT_EQ(Holds(), 1);
    osReleaseMutex(handle);
    EXPECT_EQ(Holds(), 0);
    EXPECT_FALSE(ReleaseSignalled());
}

TEST_F(RwMutexState, ReleasingAFreeMutexStaysAtZero) {
    osReleaseMutex(handle);
    EXPECT_EQ(Holds(), 0);
    EXPECT_EQ(m->waiters, 0u);
    EXPECT_FALSE(Flagged());
}

TEST_F(RwMutexState, AWaiterIsAnnouncedAndWokenByTheRelease) {
    osAcquireMutexWrite(handle);
    std::atomic<bool> got{false};
    qvtest::Worker reader([&] {
        osAcquireMutexRead(handle);
        got.store(true);
    });
    ASSERT_TRUE(WaitUntil([&] { return Flagged(); }));
    EXPECT_FALSE(got.load());
    const auto released = std::chrono::steady_clock::now();
    osReleaseMutex(handle);
    // Woken by the event, not by the periodic re-check.
    ASSERT_TRUE(WaitUntil([&] { return got.load(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - released,
              std::chrono::milliseconds(detail::kRwMutexRecheckMs));
    reader.Join();
    EXPECT_EQ(Holds(), 1);
    EXPECT_EQ(m->waiters, 0u);
    EXPECT_FALSE(Flagged()) << "the last waiter clears the flag as it takes its hold";
    osReleaseMutex(handle);
}

TEST_F(RwMutexState, WaiterLooksAgainAfterTenSecondsWithoutAWakeUp) {
    osAcquireMutexWrite(handle);
    std::atomic<bool> got{false};
    qvtest::Worker reader([&] {
        osAcquireMutexRead(handle);
        got.store(true);
    });
    ASSERT_TRUE(WaitUntil([&] { return Flagged(); }));
    osSleep(100);
    ASSERT_FALSE(got.load());
    // Free the mutex behind the waiter's back, without the release event: only the periodic
    // re-check can let the reader in now.
    m->word.store(detail::RwMutexWord(Owner(), 0));
    const auto freed = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return got.load(); }, 20000));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - freed)
                            .count();
    EXPECT_GE(waited, 8000);
    EXPECT_LE(waited, 15000);
    reader.Join();
    EXPECT_EQ(Holds(), 1);
    EXPECT_FALSE(Flagged());
    osReleaseMutex(handle);
}

} // namespace
