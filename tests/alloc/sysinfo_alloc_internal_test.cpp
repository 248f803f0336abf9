// Allocation failures of the load monitors and the process figures. A monitor that cannot be
// made is null with the reason in the error record (code 7 for the object itself, the system
// reading's own code otherwise); a sample that cannot be read fails with the figures of the last
// good sample kept.
#include "alloc_steps.h"

#include "qv_error.h"
#include "qv_process.h"
#include "qv_sysinfo.h"
#include "qv_time.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace Quorvel;
using allocsteps::Case;
using allocsteps::StepThrough;

namespace {

const int kAll = eSysLoadCpu | eSysLoadRam | eSysLoadSwap | eSysLoadSwapMax;

// Linux reads the samples as text from /proc and allocates for it; the Windows calls fill
// records of the caller's.
#ifdef __linux__
const bool kSamplesAllocate = true;
#else
const bool kSamplesAllocate = false;
#endif

void ExpectCreateFailure(const cQV_Error &err) {
    EXPECT_TRUE(err.code == 7 || err.code == 1) << err.code;
    EXPECT_STREQ(err.file, "ossysinfo");
    if (err.code == 7) {
        EXPECT_EQ(std::string(err.text).rfind("Failed to allocate memory. Requested size:", 0), 0u)
            << (const char *)err.text;
    }
}

TEST(AllocStepsSysinfo, MonitorsAreMadeWholeOrNotAtAll) {
    cQV_Error err;
    iQV_SysLoadMon *sys = nullptr;
    StepThrough({"system monitor", [&] { err.Reset(); },
                 [&] { sys = iQV_SysLoadMon::Create(&err, kAll); },
                 [&](bool failed) {
                     if (!sys) {
                         EXPECT_TRUE(failed);
                         ExpectCreateFailure(err);
                         return;
                     }
                     EXPECT_EQ(err.code, 0);
                     EXPECT_GT(sys->GetRamAvail(&err), 0);
                     delete sys;
                 }});
    iQV_ProcStatMon *proc = nullptr;
    StepThrough({"process monitor", [&] { err.Reset(); },
                 [&] { proc = iQV_ProcStatMon::Create(&err); },
                 [&](bool failed) {
                     if (!proc) {
                         EXPECT_TRUE(failed);
                         ExpectCreateFailure(err);
                         return;
                     }
                     EXPECT_EQ(err.code, 0);
                     delete proc;
                 }});
}

TEST(AllocStepsSysinfo, SamplesFailAndTheMonitorGoesOn) {
    cQV_Error err;
    std::unique_ptr<iQV_SysLoadMon> sys(iQV_SysLoadMon::Create(&err, kAll));
    ASSERT_TRUE(sys) << (const char *)err.text;
    bool ok = false;
    long long ramBefore = 0;
    StepThrough({"system sample",
                 [&] {
                     err.Reset();
                     ramBefore = sys->GetRamAvail(nullptr);
                 },
                 [&] { ok = sys->Collect(&err); },
                 [&](bool failed) {
                     if (!ok) {
                         EXPECT_TRUE(failed);
                         EXPECT_NE(err.code, 0);
                         EXPECT_EQ(sys->GetRamAvail(nullptr), ramBefore);
                     }
                     // A later sample succeeds.
                     cQV_Error again;
                     EXPECT_TRUE(sys->Collect(&again)) << (const char *)again.text;
                     EXPECT_GT(sys->GetRamAvail(nullptr), 0);
                 },
                 kSamplesAllocate});

    std::unique_ptr<iQV_ProcStatMon> proc(iQV_ProcStatMon::Create(&err));
    ASSERT_TRUE(proc) << (const char *)err.text;
    StepThrough({"process sample", [&] { err.Reset(); }, [&] { ok = proc->Collect(&err); },
                 [&](bool failed) {
                     if (!ok) {
                         EXPECT_TRUE(failed);
                         EXPECT_NE(err.code, 0);
                     }
                     cQV_Error again;
                     EXPECT_TRUE(proc->Collect(&again)) << (const char *)again.text;
                     EXPECT_GT(proc->GetProcMemoryLoad(), 0u);
                 },
                 kSamplesAllocate});
}

TEST(AllocStepsSysinfo, ProcessFigures) {
    unsigned long long size = 0;
    StepThrough({"memory use", [&] { size = 1; }, [&] { size = osGetCurProcVMSize(); },
                 [&](bool failed) {
                     if (!failed) {
                         EXPECT_GT(size, 0u);
                     }
                 },
                 kSamplesAllocate});
    cQV_SysTime time;
    bool read = false;
    const unsigned self = osGetCurrentProcessId();
    StepThrough({"processor time of a process", [&] { read = false; },
                 [&] { read = osGetProcessTime(self, time); },
                 [&](bool failed) { EXPECT_TRUE(read || failed); }, kSamplesAllocate});
}

} // namespace
