// The load formulas with injected samples, and the monitors' platform seam where a platform has
// more than one way to read the processor load.
#include "sysinfo/monitor.h"
#include "sysinfo/sysinfo_os.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace Quorvel;
using namespace Quorvel::detail;

namespace {

TEST(SystemCpuLoad, InjectedSamples) {
    struct Case {
        const char *what;
        long long prevTotal, prevIdle, curTotal, curIdle;
        int load;
    } cases[] = {
        {"no time passed", 5000, 4000, 5000, 4000, 0},
        {"idle throughout", 1000, 500, 2000, 1500, 0},
        {"busy throughout", 1000, 500, 2000, 500, 100},
        {"total 1000, idle 250", 0, 0, 1000, 250, 75},
        {"0.4 rounds down", 0, 0, 1000, 996, 0},
        {"0.5 rounds up", 0, 0, 1000, 995, 1},
        {"99.5 rounds up", 0, 0, 1000, 5, 100},
        {"99.4 rounds down", 0, 0, 1000, 6, 99},
        {"idle advanced more than total", 0, 0, 1000, 3000, 0},
        {"idle went backwards", 0, 1000, 1000, 0, 100},
        {"counters reset", 100000, 50000, 1000, 500, 50},
        {"large counters", INT64_C(4000000000000000000), INT64_C(1000000000000000000),
         INT64_C(4000000000010000000), INT64_C(1000000000002500000), 75},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SystemCpuLoad(c.prevTotal, c.prevIdle, c.curTotal, c.curIdle), c.load) << c.what;
}

TEST(ProcessCpuLoad, InjectedSamples) {
    struct Case {
        const char *what;
        unsigned long long processor, wall;
        int cpus;
        bool ok;
        int load;
    } cases[] = {
        {"4 processors, half busy", 2000000, 1000000, 4, true, 50},
        {"one processor, all busy", 1000000, 1000000, 1, true, 100},
        {"more than all processors", 5000000, 1000000, 2, true, 100},
        {"1.5 rounds up", 1500, 1000, 100, true, 2},
        {"1.49 rounds down", 1490, 1000, 100, true, 1},
        {"0.4 rounds down", 4, 1000, 1, true, 0},
        {"no processors known", 1000, 1000, 0, true, 0},
        {"no wall time", 1000, 0, 4, false, 0},
    };
    for (const Case &c : cases) {
        int load = -1;
        EXPECT_EQ(ProcessCpuLoad(c.processor, c.wall, c.cpus, load), c.ok) << c.what;
        if (c.ok) {
            EXPECT_EQ(load, c.load) << c.what;
        }
    }
}

// A copy carries the samples on: both answer from the same previous sample.
TEST(SysLoadMonCopy, CopiesKeepTheSamples) {
    cQV_Error err;
    cSysLoadMon mon;
    ASSERT_TRUE(mon.Init(&err, eSysLoadCpu | eSysLoadRam));
    cSysLoadMon copy(mon);
    EXPECT_EQ(copy.GetCpuLoad(&err), mon.GetCpuLoad(&err));
    EXPECT_EQ(copy.GetRamAvail(&err), mon.GetRamAvail(&err));
    cSysLoadMon assigned;
    assigned = mon;
    EXPECT_EQ(assigned.GetRamAvail(&err), mon.GetRamAvail(&err));
    EXPECT_TRUE(copy.Collect(&err));
    EXPECT_TRUE(mon.Collect(&err));
    // Done releases only this copy's hold; the others go on sampling.
    copy.Done();
    EXPECT_TRUE(mon.Collect(&err));
}

// Two samples on one wall-clock reading give no interval to divide by: a monitor that has never
// sampled has both wall times at 0.
TEST(ProcStatMonNoInterval, FailsToCalculate) {
    cProcStatMon mon;
    cQV_Error err;
    EXPECT_EQ(mon.GetProcCpuLoad(&err), 0);
    EXPECT_EQ(err.code, 1);
    EXPECT_STREQ(static_cast<const char *>(err.file), "ossysinfo");
    EXPECT_STREQ(static_cast<const char *>(err.text), "Failed to calculate");
    EXPECT_EQ(mon.GetProcPageFaultCount(), 0);
    // After Init and one Collect the interval runs from the process's start.
    ASSERT_TRUE(mon.Init(&err));
    ASSERT_TRUE(mon.Collect(&err));
    cQV_Error ok;
    const int load = mon.GetProcCpuLoad(&ok);
    EXPECT_EQ(ok.code, 0);
    EXPECT_GE(load, 0);
    EXPECT_LE(load, 100);
}

// The performance-counter mode, reached by ruling out the system times.
class CounterMode : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = gChooseSamplingMode;
        gChooseSamplingMode = [](bool) { return false; };
    }
    void TearDown() override { gChooseSamplingMode = saved_; }
    bool (*saved_)(bool) = nullptr;
};

TEST_F(CounterMode, QueryIsSharedByCopiesAndReleasedByDone) {
    cQV_Error err;
    cSysLoadMon mon;
#ifdef _WIN32
    ASSERT_TRUE(mon.Init(&err, eSysLoadCpu | eSysLoadRam)) << static_cast<const char *>(err.text);
    EXPECT_FALSE(mon.SamplingMode());
    cQV_Error e;
    const int load = mon.GetCpuLoad(&e);
    // The first formatted value may need a second collection; either way it is a load or the
    // counter's own status.
    if (e.code == 0) {
        EXPECT_GE(load, 0);
        EXPECT_LE(load, 100);
    } else {
        EXPECT_EQ(std::string(e.text).rfind("PdhGetFormattedCounterValue failed. Error code = ", 0),
                  0u)
            << static_cast<const char *>(e.text);
    }
    {
        cSysLoadMon copy(mon);
        mon.Done();
        cQV_Error q;
        EXPECT_FALSE(mon.Collect(&q));
        EXPECT_STREQ(static_cast<const char *>(q.text), "Query is not valid");
        EXPECT_EQ(q.code, 1);
        cQV_Error c;
        EXPECT_EQ(mon.GetCpuLoad(&c), 0);
        EXPECT_STREQ(static_cast<const char *>(c.text), "Counter is not valid");
        // The copy still holds the query.
        EXPECT_TRUE(copy.Collect(&err)) << static_cast<const char *>(err.text);
    }
    // A new Init opens a new query.
    ASSERT_TRUE(mon.Init(&err, eSysLoadCpu));
    EXPECT_TRUE(mon.Collect(&err));
#else
    // No counter interface here: the counter mode fails to open its query.
    EXPECT_FALSE(mon.Init(&err, eSysLoadCpu));
    EXPECT_EQ(err.code, 1);
    EXPECT_EQ(std::string(err.text).rfind("PdhOpenQuery failed. Error code = ", 0), 0u)
        << static_cast<const char *>(err.text);
    EXPECT_EQ(iQV_SysLoadMon::Create(nullptr, eSysLoadCpu), nullptr);
    // Before any query, Collect and GetCpuLoad say so.
    cQV_Error q;
    EXPECT_FALSE(mon.Collect(&q));
    EXPECT_STREQ(static_cast<const char *>(q.text), "Query is not valid");
    cQV_Error c;
    EXPECT_EQ(mon.GetCpuLoad(&c), 0);
    EXPECT_STREQ(static_cast<const char *>(c.text), "Counter is not valid");
    // Figures that need no counter still work.
    cSysLoadMon ram;
    ASSERT_TRUE(ram.Init(&err, eSysLoadRam));
    EXPECT_GT(ram.GetRamAvail(nullptr), 0);
#endif
}

// The counter interface where the platform has one (Windows, loaded at first use); elsewhere
// every call fails with a non-zero status and the monitors never choose it.
TEST(PerformanceCounter, OpensAddsAndCloses) {
    void *query = nullptr;
    const long open = PlatformPdhOpenQuery(query);
#ifdef _WIN32
    ASSERT_EQ(open, 0);
    ASSERT_NE(query, nullptr);
    void *counter = nullptr;
    ASSERT_EQ(PlatformPdhAddCounter(query, "\\Processor(_Total)\\% Processor Time", counter), 0);
    EXPECT_NE(counter, nullptr);
    EXPECT_EQ(PlatformPdhCollectQueryData(query), 0);
    void *bad = nullptr;
    EXPECT_NE(PlatformPdhAddCounter(query, "\\No Such Object\\No Counter", bad), 0);
    EXPECT_EQ(bad, nullptr);
    PlatformPdhCloseQuery(query);
#else
    EXPECT_NE(open, 0);
    EXPECT_EQ(query, nullptr);
    EXPECT_TRUE(PlatformChooseSamplingMode(false)); // the kernel's times always serve
#endif
}

} // namespace
