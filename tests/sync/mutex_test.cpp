#include "qv_event.h"

#include "qv_error.h"
#include "qv_thread.h"
#include "sync_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using namespace Quorvel;
using qvtest::WaitUntil;
using qvtest::Worker;

namespace {

// How long a blocked thread is given to show that it really is blocked.
const int kBlockedMs = 100;

struct CriticalSection : ::testing::Test {
    void *cs = nullptr;
    void SetUp() override {
        cQV_Error err;
        ASSERT_TRUE(osCreateCriticalSection(&err, cs)) << err.text;
        ASSERT_NE(cs, nullptr);
    }
    void TearDown() override {
        osDestroyCriticalSection(cs);
        EXPECT_EQ(cs, nullptr);
    }
};

TEST_F(CriticalSection, IsRecursiveAndFreeOnlyAfterTheLastLeave) {
    osEnterCriticalSection(cs);
    osEnterCriticalSection(cs);
    osEnterCriticalSection(cs);
    std::atomic<bool> entered{false};
    Worker other([&] {
        osEnterCriticalSection(cs);
        entered.store(true);
        osLeaveCriticalSection(cs);
    });
    osLeaveCriticalSection(cs);
    osLeaveCriticalSection(cs);
    osSleep(kBlockedMs);
    EXPECT_FALSE(entered.load()) << "entered while the owner still held one level";
    osLeaveCriticalSection(cs);
    EXPECT_TRUE(WaitUntil([&] { return entered.load(); }));
}

TEST_F(CriticalSection, SerialisesThreadsAlsoWhenEnteredTwice) {
    long counter = 0; // deliberately not atomic: the lock alone protects it
    {
        std::vector<std::unique_ptr<Worker>> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back(new Worker([&, t] {
                for (int i = 0; i < 20000; ++i) {
                    osEnterCriticalSection(cs);
                    if (t % 2) osEnterCriticalSection(cs);
                    ++counter;
                    if (t % 2) osLeaveCriticalSection(cs);
                    ++counter;
                    osLeaveCriticalSection(cs);
                }
            }));
        }
    }
    EXPECT_EQ(counter, 160000);
}

TEST(CriticalSectionNull, OperationsOnNullDoNothing) {
    void *cs = nullptr;
    osEnterCriticalSection(cs);
    osLeaveCriticalSection(cs);
    osDestroyCriticalSection(cs);
    EXPECT_EQ(cs, nullptr);
}

// ---- read/write mutex ----

struct RwMutex : ::testing::Test {
    void *m = nullptr;
    void SetUp() override {
        cQV_Error err;
        ASSERT_TRUE(osCreateMutex(&err, m)) << err.text;
        ASSERT_NE(m, nullptr);
    }
    void TearDown() override {
        osDestroyMutex(m);
        EXPECT_EQ(m, nullptr);
    }

    // Starts a thread that takes one hold of the given kind and keeps it.
    std::unique_ptr<Worker> Take(bool write, std::atomic<bool> &got) {
        return std::unique_ptr<Worker>(new Worker([this, write, &got] {
            if (write)
                osAcquireMutexWrite(m);
            else
                osAcquireMutexRead(m);
            got.store(true);
        }));
    }
};

TEST_F(RwMutex, ReadersShareAndAWriterWaitsForAllOfThem) {
    std::atomic<bool> r1{false}, r2{false}, w{false};
    auto reader1 = Take(false, r1);
    auto reader2 = Take(false, r2);
    ASSERT_TRUE(WaitUntil([&] { return r1.load() && r2.load(); }));
    reader1->Join();
    reader2->Join();

    auto writer = Take(true, w);
    osSleep(kBlockedMs);
    EXPECT_FALSE(w.load());
    // Read holds belong to nobody: this thread gives them back.
    osReleaseMutex(m);
    osSleep(kBlockedMs);
    EXPECT_FALSE(w.load()) << "writer admitted while one read hold remained";
    osReleaseMutex(m);
    EXPECT_TRUE(WaitUntil([&] { return w.load(); }));
    writer->Join();
}

TEST_F(RwMutex, WriterExcludesReadersAndOtherWriters) {
    osAcquireMutexWrite(m);
    std::atomic<bool> r{false}, w{false};
    auto reader = Take(false, r);
    auto writer = Take(true, w);
    osSleep(kBlockedMs);
    EXPECT_FALSE(r.load());
    EXPECT_FALSE(w.load());
    osReleaseMutex(m);
    // One of them gets in first; the other follows once that one's hold is given back.
    ASSERT_TRUE(WaitUntil([&] { return r.load() || w.load(); }));
    osSleep(kBlockedMs);
    EXPECT_FALSE(r.load() && w.load()) << "a reader and a writer held the mutex together";
    osReleaseMutex(m);
    EXPECT_TRUE(WaitUntil([&] { return r.load() && w.load(); }));
    osReleaseMutex(m);
}

TEST_F(RwMutex, WriterNestsWriteAndReadHoldsEachNeedingARelease) {
    std::atomic<bool> r{false};
    std::unique_ptr<Worker> reader;
    Worker owner([&] {
        osAcquireMutexWrite(m);
        osAcquireMutexWrite(m);
        osAcquireMutexRead(m);
        reader = Take(false, r);
        for (int level = 3; level > 1; --level) {
            osReleaseMutex(m);
            osSleep(kBlockedMs / 2);
            EXPECT_FALSE(r.load()) << "reader admitted with " << level - 1 << " levels held";
        }
        osReleaseMutex(m);
    });
    owner.Join();
    EXPECT_TRUE(WaitUntil([&] { return r.load(); }));
    reader->Join();
    osReleaseMutex(m);
}

TEST_F(RwMutex, ReaderAskingToWriteWaitsForItsOwnReadHold) {
    std::atomic<bool> reading{false}, writing{false};
    Worker t([&] {
        osAcquireMutexRead(m);
        reading.store(true);
        osAcquireMutexWrite(m);
        writing.store(true);
        osReleaseMutex(m);
    });
    ASSERT_TRUE(WaitUntil([&] { return reading.load(); }));
    osSleep(kBlockedMs);
    EXPECT_FALSE(writing.load());
    // Its read hold is given back on its behalf; then the write hold goes through.
    osReleaseMutex(m);
    EXPECT_TRUE(WaitUntil([&] { return writing.load(); }));
}

TEST_F(RwMutex, ReleasingAFreeMutexKeepsItFree) {
    osReleaseMutex(m);
    osReleaseMutex(m);
    // Still free: one write hold from another thread goes straight through and excludes us.
    std::atomic<bool> w{false};
    auto writer = Take(true, w);
    ASSERT_TRUE(WaitUntil([&] { return w.load(); }));
    writer->Join();
    std::atomic<bool> r{false};
    auto reader = Take(false, r);
    osSleep(kBlockedMs);
    EXPECT_FALSE(r.load());
    osReleaseMutex(m);
    EXPECT_TRUE(WaitUntil([&] { return r.load(); }));
    reader->Join();
    osReleaseMutex(m);
}

TEST_F(RwMutex, KeepsDataConsistentUnderMixedLoad) {
    // Two fields that writers change together; a reader must never see them differ.
    long a = 0, b = 0;
    std::atomic<int> torn{0};
    {
        std::vector<std::unique_ptr<Worker>> workers;
        for (int t = 0; t < 4; ++t) {
            const bool writer = t % 2 == 0;
            workers.emplace_back(new Worker([&, writer] {
                for (int i = 0; i < 3000; ++i) {
                    if (writer) {
                        osAcquireMutexWrite(m);
                        ++a;
                        ++b;
                    } else {
                        osAcquireMutexRead(m);
                        if (a != b) torn.fetch_add(1);
                    }
                    osReleaseMutex(m);
                }
            }));
        }
    }
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(a, 6000);
    EXPECT_EQ(b, 6000);
}

TEST(RwMutexNull, OperationsOnNullDoNothing) {
    void *m = nullptr;
    osAcquireMutexRead(m);
    osAcquireMutexWrite(m);
    osReleaseMutex(m);
    osDestroyMutex(m);
    EXPECT_EQ(m, nullptr);
}

} // namespace
