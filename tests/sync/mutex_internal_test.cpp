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

    bool ReleaseSignalled() { return osWaitForEvents(1, &m->released, 0) == 0; }
};

TEST_F(RwMutexState, StartsFreeWithNoOwner) {
    EXPECT_EQ(m->holds, 0);
    EXPECT_EQ(m->owner, 0u);
    EXPECT_NE(m->guard, nullptr);
    EXPECT_NE(m->released, nullptr);
    EXPECT_FALSE(ReleaseSignalled());
}

TEST_F(RwMutexState, NestedWriteAndReadHoldsCountAsWriteLevels) {
    const unsigned self = osGetCurrentThreadId();
    osAcquireMutexWrite(handle);
    EXPECT_EQ(m->holds, -1);
    EXPECT_EQ(m->owner, self);
    osAcquireMutexWrite(handle);
    osAcquireMutexRead(handle);
    EXPECT_EQ(m->holds, -3);
    for (int expected : {-2, -1}) {
        osReleaseMutex(handle);
        EXPECT_EQ(m->holds, expected);
        EXPECT_FALSE(ReleaseSignalled());
    }
    osReleaseMutex(handle);
    EXPECT_EQ(m->holds, 0);
    EXPECT_TRUE(ReleaseSignalled());
    EXPECT_EQ(m->owner, self) << "the owner stays recorded after release";
}

TEST_F(RwMutexState, ReadHoldsCountUpAndTheLastReleaseSignals) {
    osAcquireMutexRead(handle);
    osAcquireMutexRead(handle);
    EXPECT_EQ(m->holds, 2);
    osReleaseMutex(handle);
    EXPECT_EQ(m->holds, 1);
    EXPECT_FALSE(ReleaseSignalled());
    osReleaseMutex(handle);
    EXPECT_EQ(m->holds, 0);
    EXPECT_TRUE(ReleaseSignalled());
    // A new hold resets the event.
    osAcquireMutexRead(handle);
    EXPECT_FALSE(ReleaseSignalled());
    osReleaseMutex(handle);
}

TEST_F(RwMutexState, ReleasingAFreeMutexStaysAtZeroAndSignals) {
    osReleaseMutex(handle);
    EXPECT_EQ(m->holds, 0);
    EXPECT_TRUE(ReleaseSignalled());
}

TEST_F(RwMutexState, WaiterLooksAgainAfterTenSecondsWithoutAWakeUp) {
    osAcquireMutexWrite(handle);
    std::atomic<bool> got{false};
    qvtest::Worker reader([&] {
        osAcquireMutexRead(handle);
        got.store(true);
    });
    osSleep(100);
    ASSERT_FALSE(got.load());
    // Free the mutex behind the waiter's back, without the release event: only the periodic
    // re-check can let the reader in now.
    osEnterCriticalSection(m->guard);
    m->holds = 0;
    osLeaveCriticalSection(m->guard);
    const auto freed = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return got.load(); }, 20000));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - freed)
                            .count();
    EXPECT_GE(waited, 8000);
    EXPECT_LE(waited, 15000);
    reader.Join();
    EXPECT_EQ(m->holds, 1);
    osReleaseMutex(handle);
}

} // namespace
