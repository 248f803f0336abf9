// Allocation failures of the monitors. This test program replaces the global
// allocation functions so that one chosen nothrow allocation on the calling thread fails.
#include "sysinfo/monitor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

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

TEST(MonitorAllocFailure, CreateReportsTheObjectSize) {
    struct Case {
        const char *what;
        bool (*create)(cQV_Error *);
        size_t size;
    } cases[] = {
        {"system monitor",
         [](cQV_Error *e) {
             iQV_SysLoadMon *m = iQV_SysLoadMon::Create(e, eSysLoadCpu);
             const bool made = m != nullptr;
             delete m;
             return made;
         },
         sizeof(cSysLoadMon)},
        {"process monitor",
         [](cQV_Error *e) {
             iQV_ProcStatMon *m = iQV_ProcStatMon::Create(e);
             const bool made = m != nullptr;
             delete m;
             return made;
         },
         sizeof(cProcStatMon)},
    };
    for (const Case &c : cases) {
        cQV_Error err;
        bool created;
        {
            FailNthAllocation fail(1);
            created = c.create(&err);
        }
        EXPECT_FALSE(created) << c.what;
        EXPECT_EQ(err.code, 7) << c.what;
        EXPECT_STREQ(err.file, "ossysinfo");
        EXPECT_EQ(std::string(err.text),
                  "Failed to allocate memory. Requested size:" + std::to_string(c.size))
            << c.what;
    }
}

} // namespace
