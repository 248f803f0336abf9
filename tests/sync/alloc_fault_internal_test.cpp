// Allocation failures of the synchronisation objects. This test program replaces the global
// allocation functions so that one chosen nothrow allocation on the calling thread fails.
#include "qv_error.h"
#include "qv_event.h"
#include "qv_thread.h"
#include "sync/sync_os.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// 0: no failure planned; n > 0: the n-th nothrow allocation from now on this thread fails.
thread_local int t_failNothrowIn = 0;

void *Allocate(std::size_t n) {
    return std::malloc(n ? n : 1);
}

} // namespace

void *operator new(std::size_t n) {
    if (void *p = Allocate(n)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t n) {
    return operator new(n);
}
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
    if (t_failNothrowIn > 0 && --t_failNothrowIn == 0) return nullptr;
    return Allocate(n);
}
void *operator new[](std::size_t n, const std::nothrow_t &tag) noexcept {
    return operator new(n, tag);
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete[](void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept {
    std::free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept {
    std::free(p);
}

using namespace Quorvel;

namespace {

struct FailNthAllocation {
    explicit FailNthAllocation(int n) { t_failNothrowIn = n; }
    ~FailNthAllocation() { t_failNothrowIn = 0; }
};

void *const kUntouched = reinterpret_cast<void *>(0x1234);

std::atomic<int> g_calls{0};

unsigned Routine(void *) {
    g_calls.fetch_add(1);
    return 0;
}

void Callback(bool, unsigned, void *, unsigned) {
    g_calls.fetch_add(1);
}

TEST(AllocFailure, ThreadStartRecordReportsItsSize) {
    g_calls.store(0);
    cQV_Error err;
    void *thread;
    {
        FailNthAllocation fail(1);
        thread = osCreateThread(&err, &Routine, nullptr, &Callback);
    }
    EXPECT_EQ(thread, nullptr);
    EXPECT_EQ(err.code, 7);
    EXPECT_STREQ(err.file, "osthread");
    EXPECT_EQ(std::string(err.text), "Failed to allocate memory for new thread. Requested size:" +
                                         std::to_string(3 * sizeof(void *)));
    EXPECT_EQ(g_calls.load(), 0);
}

#ifdef _WIN32
const int kRefusal = ERROR_NOT_ENOUGH_MEMORY;
void SetSysError(int code) {
    SetLastError(static_cast<DWORD>(code));
}
#else
const int kRefusal = EAGAIN;
void SetSysError(int code) {
    errno = code;
}
#endif

bool RefuseToStart(void *, void *&) {
    SetSysError(kRefusal);
    return false;
}

TEST(StartFailure, RefusedThreadReportsTheSystemReasonAndRunsNothing) {
    g_calls.store(0);
    cQV_Error err;
    detail::g_startThread = &RefuseToStart;
    void *thread = osCreateThread(&err, &Routine, nullptr, &Callback);
    detail::g_startThread = &detail::PlatformStartThread;
    EXPECT_EQ(thread, nullptr);
    EXPECT_EQ(err.code, 4);
    EXPECT_STREQ(err.file, "osthread");
    const std::string reason(osGetSysErrorStr(kRefusal));
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(std::string(err.text), "Failed to create new thread. " + reason);
    EXPECT_EQ(g_calls.load(), 0);
    // The start record was freed again; the leak checker of the address-sanitizer build
    // reports it otherwise.
}

TEST(AllocFailure, CriticalSectionLeavesTheHandleAlone) {
    ASSERT_GT(detail::kCriticalSectionSize, 0u);
    cQV_Error err;
    void *cs = kUntouched;
    bool ok;
    {
        FailNthAllocation fail(1);
        ok = osCreateCriticalSection(&err, cs);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(cs, kUntouched);
    EXPECT_EQ(err.code, 7);
    EXPECT_STREQ(err.file, "osmutex");
    EXPECT_EQ(std::string(err.text), "Failed to allocate memory. Requested size:" +
                                         std::to_string(detail::kCriticalSectionSize));
}

TEST(AllocFailure, MutexRecordFailsWithoutAReport) {
    cQV_Error err;
    void *m = kUntouched;
    bool ok;
    {
        FailNthAllocation fail(1);
        ok = osCreateMutex(&err, m);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(m, kUntouched);
    EXPECT_TRUE(err.IsNotError());
    EXPECT_STREQ(err.text, "");
}

TEST(AllocFailure, MutexGuardFailureIsReportedAndUndone) {
    cQV_Error err;
    void *m = kUntouched;
    bool ok;
    {
        FailNthAllocation fail(2);
        ok = osCreateMutex(&err, m);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(m, kUntouched);
    EXPECT_EQ(err.code, 7);
    EXPECT_STREQ(err.file, "osmutex");
}

#ifndef _WIN32
// Events are the library's own objects on POSIX, so running out of memory is what makes their
// creation fail there.
TEST(AllocFailure, EventReportsCodeOneAndNullsTheHandle) {
    cQV_Error err;
    void *e = kUntouched;
    bool ok;
    {
        FailNthAllocation fail(1);
        ok = osCreateEvent(&err, true, e);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(err.code, 1);
    EXPECT_STREQ(err.file, "osevent");
    EXPECT_EQ(std::string(err.text),
              "Failed to create event. WSAGetLastError()=" + std::to_string(ENOMEM));
}

TEST(AllocFailure, MutexEventFailureIsReportedAndUndone) {
    cQV_Error err;
    void *m = kUntouched;
    bool ok;
    {
        FailNthAllocation fail(3);
        ok = osCreateMutex(&err, m);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(m, kUntouched);
    EXPECT_EQ(err.code, 1);
    EXPECT_STREQ(err.file, "osevent");
}
#endif

} // namespace
