// The machine's facts against independent sources, and the monitors on the real system.
#include "qv_process.h"
#include "qv_sysinfo.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>
#endif

// The library declares the framework's array template but defines none of it; this test's own
// definition shows that EnumProcesses touches nothing.
namespace Quorvel {
template <typename T> class ctQV_Array {
public:
    int touched = 0;
    T item{};
};
} // namespace Quorvel

using namespace Quorvel;

namespace {

std::string Str(const cQV_String &s) {
    return static_cast<const char *>(s);
}

// The calling process's processor time in 100-ns units, read independently of the library.
unsigned long long OwnProcessorTime() {
#ifdef _WIN32
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    auto v = [](const FILETIME &t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return v(k) + v(u);
#else
    timespec t = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<unsigned long long>(t.tv_sec) * 10000000ULL +
           static_cast<unsigned long long>(t.tv_nsec) / 100;
#endif
}

// Keeps n threads busy until destroyed.
class Spinners {
public:
    explicit Spinners(int n) {
        for (int i = 0; i < n; ++i)
            threads_.emplace_back([this] {
                volatile unsigned long x = 0;
                while (!stop_.load(std::memory_order_relaxed))
                    x = x + 1;
            });
    }
    ~Spinners() {
        stop_ = true;
        for (std::thread &t : threads_)
            t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TEST(SysInfo, HostTypeNamesAndIds) {
    EXPECT_EQ(cQV_SysInfo::GetHostTypeId("Linux"), eHostLinux);
    EXPECT_EQ(cQV_SysInfo::GetHostTypeId("linux"), eHostUnknown);
    EXPECT_EQ(cQV_SysInfo::GetHostTypeId("Windows"), eHostWindows);
    EXPECT_EQ(cQV_SysInfo::GetHostTypeId("Windows "), eHostUnknown);
    EXPECT_EQ(cQV_SysInfo::GetHostTypeId(""), eHostUnknown);
    EXPECT_STREQ(cQV_SysInfo::GetHostTypeStr(eHostLinux), "Linux");
    EXPECT_STREQ(cQV_SysInfo::GetHostTypeStr(eHostWindows), "Windows");
    for (int v : {0, 85, 77, 88, -1, 1000})
        EXPECT_STREQ(cQV_SysInfo::GetHostTypeStr(static_cast<eQV_HostType>(v)), "Unknown") << v;
    EXPECT_EQ(static_cast<int>(eHostLinux), 'L');
    EXPECT_EQ(static_cast<int>(eHostWindows), 'W');
    EXPECT_EQ(static_cast<int>(eHostUnknown), 'U');
#ifdef _WIN32
    EXPECT_EQ(cQV_SysInfo::GetHostType(), eHostWindows);
#else
    EXPECT_EQ(cQV_SysInfo::GetHostType(), eHostLinux);
#endif
}

TEST(SysInfo, UnimplementedOperationsFindNothing) {
    ctQV_Array<unsigned int> processes;
    processes.item = 7;
    EXPECT_EQ(cQV_SysInfo::EnumProcesses(processes), 0u);
    EXPECT_EQ(processes.item, 7u);
    cQV_String name("kept");
    EXPECT_FALSE(iQV_ProcInfo::GetName(osGetCurrentProcessId(), name));
    EXPECT_EQ(Str(name), "kept");
}

TEST(SysInfo, FactsAgreeWithTheSystem) {
#ifdef _WIN32
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    EXPECT_EQ(cQV_SysInfo::GetCpuCount(), static_cast<int>(si.dwNumberOfProcessors));
    MEMORYSTATUSEX mem;
    mem.dwLength = sizeof mem;
    ASSERT_TRUE(GlobalMemoryStatusEx(&mem));
    EXPECT_EQ(cQV_SysInfo::GetRamSize(), mem.ullTotalPhys);
    const std::string shortName = Str(cQV_SysInfo::GetOsShortName());
    EXPECT_NE(shortName, "Windows") << "the version record was named";
    EXPECT_EQ(Str(cQV_SysInfo::GetOsLongName()).rfind("Microsoft Windows ", 0), 0u);
#else
    EXPECT_EQ(cQV_SysInfo::GetCpuCount(), static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    struct sysinfo si = {};
    ASSERT_EQ(sysinfo(&si), 0);
    const unsigned long long kernelTotal =
        static_cast<unsigned long long>(si.totalram) * si.mem_unit;
    // /proc/meminfo counts in KiB, the system call in bytes.
    EXPECT_LE(cQV_SysInfo::GetRamSize(), kernelTotal);
    EXPECT_GT(cQV_SysInfo::GetRamSize() + 1024, kernelTotal);
    const std::string longName = Str(cQV_SysInfo::GetOsLongName());
    EXPECT_NE(longName.find(", kernel "), std::string::npos) << longName;
    EXPECT_FALSE(Str(cQV_SysInfo::GetOsShortName()).empty());
#endif
    EXPECT_FALSE(Str(cQV_SysInfo::GetCpuName()).empty());
    EXPECT_GE(cQV_SysInfo::GetCpuSpeed(), 0);
    // The getters hand out copies: changing one changes nothing the next caller sees.
    cQV_String copy = cQV_SysInfo::GetCpuName();
    copy += "!";
    EXPECT_NE(Str(copy), Str(cQV_SysInfo::GetCpuName()));
}

TEST(SysLoadMon, MaskSelectsTheFigures) {
    cQV_Error err;
    iQV_SysLoadMon *none = iQV_SysLoadMon::Create(&err, 0);
    ASSERT_NE(none, nullptr) << Str(err.text);
    EXPECT_TRUE(none->Collect(&err));
    using Getter = long long (*)(iQV_SysLoadMon *, cQV_Error *);
    const Getter getters[] = {
        [](iQV_SysLoadMon *m, cQV_Error *e) { return static_cast<long long>(m->GetCpuLoad(e)); },
        [](iQV_SysLoadMon *m, cQV_Error *e) { return m->GetRamAvail(e); },
        [](iQV_SysLoadMon *m, cQV_Error *e) { return m->GetSwapAvail(e); },
        [](iQV_SysLoadMon *m, cQV_Error *e) { return m->GetSwapMax(e); },
    };
    for (Getter g : getters) {
        cQV_Error e;
        EXPECT_EQ(g(none, &e), 0);
        EXPECT_EQ(e.code, 1);
        EXPECT_EQ(Str(e.file), "ossysinfo");
        EXPECT_EQ(Str(e.text), "Value is not requested");
        EXPECT_EQ(g(none, nullptr), 0); // a null record is fine
    }
    delete none;

    iQV_SysLoadMon *ram = iQV_SysLoadMon::Create(&err, eSysLoadRam);
    ASSERT_NE(ram, nullptr);
    cQV_Error e;
    EXPECT_EQ(ram->GetCpuLoad(&e), 0);
    EXPECT_EQ(Str(e.text), "Value is not requested");
    // The Collect inside Create read the memory.
    EXPECT_GT(ram->GetRamAvail(nullptr), 0);
    EXPECT_LE(static_cast<unsigned long long>(ram->GetRamAvail(nullptr)),
              cQV_SysInfo::GetRamSize());
    EXPECT_EQ(ram->GetSwapMax(nullptr), 0);
    // Init again changes the mask.
    ASSERT_TRUE(ram->Init(&err, eSysLoadSwap | eSysLoadSwapMax));
    EXPECT_EQ(ram->GetRamAvail(nullptr), 0);
    EXPECT_GE(ram->GetSwapMax(nullptr), ram->GetSwapAvail(nullptr));
    EXPECT_GE(ram->GetSwapAvail(nullptr), 0);
    delete ram;
}

TEST(SysLoadMon, CpuLoadFollowsTheMachine) {
    cQV_Error err;
    iQV_SysLoadMon *mon = iQV_SysLoadMon::Create(&err, eSysLoadCpu);
    ASSERT_NE(mon, nullptr) << Str(err.text);
    // Create samples twice at once: no time passed, or hardly any.
    const int first = mon->GetCpuLoad(&err);
    EXPECT_GE(first, 0);
    EXPECT_LE(first, 100);
    int load = 0;
    {
        Spinners spin(2);
        SleepMs(50);
        ASSERT_TRUE(mon->Collect(&err));
        SleepMs(500);
        ASSERT_TRUE(mon->Collect(&err));
        load = mon->GetCpuLoad(&err);
    }
    EXPECT_GT(load, 40) << "two spinning threads on " << cQV_SysInfo::GetCpuCount()
                        << " processors";
    EXPECT_LE(load, 100);
    delete mon;
}

TEST(ProcStatMon, ProcessLoadAgreesWithTheProcessClock) {
    cQV_Error err;
    iQV_ProcStatMon *mon = iQV_ProcStatMon::Create(&err);
    ASSERT_NE(mon, nullptr) << Str(err.text);
    ASSERT_TRUE(mon->Collect(&err));
    const auto wallStart = std::chrono::steady_clock::now();
    const unsigned long long cpuStart = OwnProcessorTime();
    {
        Spinners spin(1);
        SleepMs(600);
    }
    ASSERT_TRUE(mon->Collect(&err));
    const unsigned long long cpuUsed = OwnProcessorTime() - cpuStart;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count() * 1e7;
    const int n = cQV_SysInfo::GetCpuCount();
    const double expected = cpuUsed / (wall * n) * 100;
    const int load = mon->GetProcCpuLoad(&err);
    EXPECT_NEAR(load, expected, 6) << "one spinning thread on " << n << " processors";
    EXPECT_GT(load, 0);
    EXPECT_LE(load, 100 / n + 6);
    EXPECT_GT(mon->GetProcMemoryLoad(), 0u);
    delete mon;
}

TEST(ProcStatMon, FirstIntervalStartsAtProcessStart) {
    cQV_Error err;
    iQV_ProcStatMon *mon = iQV_ProcStatMon::Create(&err);
    ASSERT_NE(mon, nullptr) << Str(err.text);
    ASSERT_TRUE(mon->Collect(&err));
    const int firstFaults = mon->GetProcPageFaultCount();
#ifndef _WIN32
    // Wine reports no page faults; a real system counts at least the ones of loading the program.
    EXPECT_GT(firstFaults, 0);
#endif
    EXPECT_GE(firstFaults, 0);
    // The average load since start, so within 0..100.
    const int sinceStart = mon->GetProcCpuLoad(&err);
    EXPECT_GE(sinceStart, 0);
    EXPECT_LE(sinceStart, 100);

    // Touching fresh memory raises the fault count and the working set.
    const unsigned long long before = mon->GetProcMemoryLoad();
    std::vector<char> block(32 << 20);
    for (size_t i = 0; i < block.size(); i += 4096)
        block[i] = 1;
    ASSERT_TRUE(mon->Collect(&err));
#ifndef _WIN32
    EXPECT_GE(mon->GetProcPageFaultCount(), 1000);
#endif
    EXPECT_GT(mon->GetProcMemoryLoad(), before + (16u << 20));
    EXPECT_GT(osGetCurProcVMSize(), 16u << 20);
    delete mon;
}

TEST(ProcessTime, OwnAndOtherProcesses) {
    cQV_SysTime own;
    osGetProcessTime(own);
    {
        Spinners spin(1);
        SleepMs(100);
    }
    cQV_SysTime later;
    osGetProcessTime(later);
    EXPECT_GT(later.nanoseconds, own.nanoseconds);

    cQV_SysTime byId(static_cast<uint64_t>(0));
    ASSERT_TRUE(osGetProcessTime(osGetCurrentProcessId(), byId));
    // qemu-user (the s390x preset runs the suite under it and sets QEMU_LD_PREFIX for its
    // children) makes up the emulated process's /proc/<pid>/stat with only a few real fields: its
    // times read 0 there, so the by-id reading cannot be compared with the own one.
    if (std::getenv("QEMU_LD_PREFIX") == nullptr) {
        // The by-id reading may be coarser (clock ticks), never far off.
        EXPECT_NEAR(static_cast<double>(byId.nanoseconds), static_cast<double>(later.nanoseconds),
                    100e6);
    }

    cQV_SysTime untouched(static_cast<uint64_t>(12345));
    EXPECT_FALSE(osGetProcessTime(0u, untouched));
    EXPECT_FALSE(osGetProcessTime(0x7FFFFFF0u, untouched));
    EXPECT_EQ(untouched.nanoseconds, 12345u);
}

} // namespace
