#include "qv_thread.h"

#include "qv_error.h"
#include "sync_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <vector>

#ifndef _WIN32
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace Quorvel;
using qvtest::WaitUntil;

namespace {

// What one thread saw: every callback call and the routine, in order.
struct Trace {
    struct Call {
        bool first;
        unsigned id;
        void *arg;
        unsigned exitCode;
        unsigned calledOn; // osGetCurrentThreadId() inside the callback
        int seq;
    };
    std::mutex lock;
    std::vector<Call> calls;
    unsigned routineId = 0;
    int routineSeq = -1;
    int seq = 0;
    std::atomic<bool> finished{false};
};

Trace *g_trace = nullptr;

unsigned TracedRoutine(void *arg) {
    Trace *t = static_cast<Trace *>(arg);
    std::lock_guard<std::mutex> hold(t->lock);
    t->routineId = osGetCurrentThreadId();
    t->routineSeq = t->seq++;
    return 77;
}

void TracingCallback(bool first, unsigned id, void *arg, unsigned exitCode) {
    Trace *t = g_trace;
    std::lock_guard<std::mutex> hold(t->lock);
    t->calls.push_back({first, id, arg, exitCode, osGetCurrentThreadId(), t->seq++});
    if (!first) t->finished.store(true);
}

TEST(Thread, CallbackIsCalledBeforeAndAfterTheRoutineOnTheNewThread) {
    Trace trace;
    g_trace = &trace;
    cQV_Error err;
    void *thread = osCreateThread(&err, &TracedRoutine, &trace, &TracingCallback);
    ASSERT_NE(thread, nullptr) << err.text;
    osCloseThread(thread);
    EXPECT_EQ(thread, nullptr);
    EXPECT_TRUE(err.IsNotError());

    ASSERT_EQ(trace.calls.size(), 2u);
    const Trace::Call &before = trace.calls[0];
    const Trace::Call &after = trace.calls[1];
    EXPECT_TRUE(before.first);
    EXPECT_EQ(before.exitCode, 0u);
    EXPECT_FALSE(after.first);
    EXPECT_EQ(after.exitCode, 77u);
    EXPECT_EQ(before.arg, &trace);
    EXPECT_EQ(after.arg, &trace);
    EXPECT_EQ(before.seq, 0);
    EXPECT_EQ(trace.routineSeq, 1);
    EXPECT_EQ(after.seq, 2);
    // One id throughout: the new thread's own, which is not the creating thread's.
    EXPECT_NE(trace.routineId, 0u);
    EXPECT_EQ(before.id, trace.routineId);
    EXPECT_EQ(after.id, trace.routineId);
    EXPECT_EQ(before.calledOn, trace.routineId);
    EXPECT_EQ(after.calledOn, trace.routineId);
    EXPECT_NE(trace.routineId, osGetCurrentThreadId());
}

TEST(Thread, NullRoutineStillCallsTheCallbackWithExitCodeZero) {
    Trace trace;
    g_trace = &trace;
    void *thread = osCreateThread(nullptr, nullptr, &trace, &TracingCallback);
    ASSERT_NE(thread, nullptr);
    osCloseThread(thread);
    ASSERT_EQ(trace.calls.size(), 2u);
    EXPECT_TRUE(trace.calls[0].first);
    EXPECT_FALSE(trace.calls[1].first);
    EXPECT_EQ(trace.calls[1].exitCode, 0u);
    EXPECT_EQ(trace.calls[0].id, trace.calls[1].id);
}

unsigned CountingRoutine(void *arg) {
    static_cast<std::atomic<int> *>(arg)->fetch_add(1);
    return 5;
}

TEST(Thread, WithoutCallbackOnlyTheRoutineRuns) {
    std::atomic<int> runs{0};
    void *thread = osCreateThread(nullptr, &CountingRoutine, &runs, nullptr);
    ASSERT_NE(thread, nullptr);
    osCloseThread(thread);
    EXPECT_EQ(thread, nullptr);
    EXPECT_EQ(runs.load(), 1);
}

TEST(Thread, ManyThreadsRunAndJoin) {
    std::atomic<int> runs{0};
    std::vector<void *> threads;
    for (int i = 0; i < 16; ++i) {
        void *t = osCreateThread(nullptr, &CountingRoutine, &runs, nullptr);
        ASSERT_NE(t, nullptr);
        threads.push_back(t);
    }
    for (void *&t : threads)
        osCloseThread(t);
    // Closing joins: every routine has run by the time the last close returns.
    EXPECT_EQ(runs.load(), 16);
}

struct IdSlot {
    std::atomic<unsigned> id{0};
    std::atomic<bool> release{false};
};

unsigned HoldingRoutine(void *arg) {
    IdSlot *slot = static_cast<IdSlot *>(arg);
    slot->id.store(osGetCurrentThreadId());
    WaitUntil([slot] { return slot->release.load(); });
    return 0;
}

TEST(Thread, IdsOfLiveThreadsDifferAndStayTheSame) {
    const unsigned mine = osGetCurrentThreadId();
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(osGetCurrentThreadId(), mine);

    IdSlot slots[4];
    void *threads[4];
    for (int i = 0; i < 4; ++i) {
        threads[i] = osCreateThread(nullptr, &HoldingRoutine, &slots[i], nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    std::set<unsigned> ids{mine};
    for (IdSlot &slot : slots) {
        ASSERT_TRUE(WaitUntil([&slot] { return slot.id.load() != 0; }));
        ids.insert(slot.id.load());
    }
    for (int i = 0; i < 4; ++i) {
        slots[i].release.store(true);
        osCloseThread(threads[i]);
    }
    EXPECT_EQ(ids.size(), 5u);
}

#ifndef _WIN32
TEST(Thread, IdIsTheKernelThreadId) {
    EXPECT_EQ(osGetCurrentThreadId(), static_cast<unsigned>(syscall(SYS_gettid)));
    unsigned inThread = 0, kernel = 0;
    qvtest::Worker w([&] {
        inThread = osGetCurrentThreadId();
        kernel = static_cast<unsigned>(syscall(SYS_gettid));
    });
    w.Join();
    EXPECT_EQ(inThread, kernel);
}

TEST(Thread, ForkedChildSeesItsOwnId) {
    const unsigned parent = osGetCurrentThreadId();
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // The child's only thread has the id of the child process.
        const unsigned id = osGetCurrentThreadId();
        _exit(id == static_cast<unsigned>(getpid()) && id != parent ? 0 : 1);
    }
    int status = -1;
    ASSERT_TRUE(WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

TEST(Thread, CloseOfAnEndedThreadReturnsAndClearsTheHandle) {
    std::atomic<int> runs{0};
    void *thread = osCreateThread(nullptr, &CountingRoutine, &runs, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return runs.load() == 1; }));
    osSleep(20); // let the thread run to its end
    osCloseThread(thread);
    EXPECT_EQ(thread, nullptr);

    void *none = nullptr;
    osCloseThread(none);
    EXPECT_EQ(none, nullptr);
}

struct SelfClose {
    void *handle = nullptr;
    std::atomic<bool> handleSet{false};
    std::atomic<bool> closed{false};
    void *after = reinterpret_cast<void *>(1);
};

unsigned SelfClosingRoutine(void *arg) {
    SelfClose *s = static_cast<SelfClose *>(arg);
    WaitUntil([s] { return s->handleSet.load(); });
    osCloseThread(s->handle);
    s->after = s->handle;
    s->closed.store(true);
    return 0;
}

TEST(Thread, ThreadClosingItsOwnHandleDoesNotWaitForItself) {
    SelfClose s;
    s.handle = osCreateThread(nullptr, &SelfClosingRoutine, &s, nullptr);
    ASSERT_NE(s.handle, nullptr);
    s.handleSet.store(true);
    ASSERT_TRUE(WaitUntil([&] { return s.closed.load(); })) << "the thread waits for itself";
    EXPECT_EQ(s.after, nullptr);
    osSleep(20); // the thread ends on its own; nobody joins it
}

struct PriorityRun {
    int requested[8];
    int count = 0;
    int seen[8];
};

unsigned PriorityRoutine(void *arg) {
    PriorityRun *run = static_cast<PriorityRun *>(arg);
    for (int i = 0; i < run->count; ++i) {
        osSetPriority(run->requested[i]);
        run->seen[i] = osGetPriority();
    }
    return 0;
}

// Runs the requests on a fresh thread so that the test thread's own priority stays as it is.
std::vector<int> PrioritiesAfter(std::initializer_list<int> requests) {
    PriorityRun run;
    for (int r : requests)
        run.requested[run.count++] = r;
    void *thread = osCreateThread(nullptr, &PriorityRoutine, &run, nullptr);
    EXPECT_NE(thread, nullptr);
    osCloseThread(thread);
    return std::vector<int>(run.seen, run.seen + run.count);
}

TEST(Thread, PriorityLevelsReadBackAsSet) {
#ifndef _WIN32
    // Raising a thread's priority lowers its niceness, which needs privilege.
    if (geteuid() != 0) GTEST_SKIP() << "raising priority needs root";
#endif
    EXPECT_EQ(PrioritiesAfter({2, 1, 0, -1, -2, 0}), (std::vector<int>{2, 1, 0, -1, -2, 0}));
}

TEST(Thread, PriorityOutsideTheScaleChangesNothing) {
#ifndef _WIN32
    if (geteuid() != 0) GTEST_SKIP() << "raising priority needs root";
#endif
    EXPECT_EQ(PrioritiesAfter({1, 3, -3, 100, -2, 3, -3, -100}),
              (std::vector<int>{1, 1, 1, 1, -2, -2, -2, -2}));
}

TEST(Thread, PriorityIsPerThread) {
    const int mine = osGetPriority();
    PrioritiesAfter({-2});
    EXPECT_EQ(osGetPriority(), mine);
}

TEST(Thread, SleepLastsAtLeastTheGivenTime) {
    const auto start = std::chrono::steady_clock::now();
    osSleep(60);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_GE(ms, 59);
}

} // namespace
