// Monitors: the cost of one Collect of every figure, against reading the same figures the plain
// way (open, read and close the /proc files at each sample).
#include "bench_table.h"
#include "qv_sysinfo.h"

#ifndef _WIN32
#include <cstdio>
#include <cstring>

#include <sys/resource.h>

namespace {

void SystemCollectOurs(benchmark::State &state) {
    Quorvel::iQV_SysLoadMon *mon = Quorvel::iQV_SysLoadMon::Create(
        nullptr, Quorvel::eSysLoadCpu | Quorvel::eSysLoadRam | Quorvel::eSysLoadSwap |
                     Quorvel::eSysLoadSwapMax);
    if (!mon) {
        state.SkipWithError("Create failed");
        return;
    }
    for (auto _ : state) {
        mon->Collect(nullptr);
        benchmark::DoNotOptimize(mon->GetCpuLoad(nullptr));
        benchmark::DoNotOptimize(mon->GetRamAvail(nullptr));
    }
    delete mon;
}

// The whole of /proc/stat's first line and the three meminfo figures, through stdio.
void SystemCollectPeer(benchmark::State &state) {
    char line[512];
    for (auto _ : state) {
        unsigned long long f[8] = {0};
        if (std::FILE *s = std::fopen("/proc/stat", "r")) {
            if (std::fgets(line, sizeof line, s))
                std::sscanf(line, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &f[0], &f[1],
                            &f[2], &f[3], &f[4], &f[5], &f[6], &f[7]);
            std::fclose(s);
        }
        unsigned long long avail = 0, swapFree = 0, swapTotal = 0;
        if (std::FILE *m = std::fopen("/proc/meminfo", "r")) {
            while (std::fgets(line, sizeof line, m)) {
                std::sscanf(line, "MemAvailable: %llu", &avail);
                std::sscanf(line, "SwapTotal: %llu", &swapTotal);
                std::sscanf(line, "SwapFree: %llu", &swapFree);
            }
            std::fclose(m);
        }
        benchmark::DoNotOptimize(f[3] + avail + swapFree + swapTotal);
    }
}

void ProcessCollectOurs(benchmark::State &state) {
    Quorvel::iQV_ProcStatMon *mon = Quorvel::iQV_ProcStatMon::Create(nullptr);
    if (!mon) {
        state.SkipWithError("Create failed");
        return;
    }
    for (auto _ : state) {
        mon->Collect(nullptr);
        benchmark::DoNotOptimize(mon->GetProcMemoryLoad());
    }
    delete mon;
}

void ProcessCollectPeer(benchmark::State &state) {
    char line[256];
    for (auto _ : state) {
        struct rusage u;
        getrusage(RUSAGE_SELF, &u);
        unsigned long long size = 0, resident = 0;
        if (std::FILE *f = std::fopen("/proc/self/statm", "r")) {
            if (std::fgets(line, sizeof line, f)) std::sscanf(line, "%llu %llu", &size, &resident);
            std::fclose(f);
        }
        benchmark::DoNotOptimize(resident + static_cast<unsigned long long>(u.ru_minflt));
    }
}

} // namespace

QV_BENCH_ROW(sysmon, "system monitor Collect, all figures (peer: fopen /proc/stat + meminfo)",
             "<= 50 us time", SystemCollectOurs, SystemCollectPeer);
QV_BENCH_ROW(procmon, "process monitor Collect (peer: getrusage + fopen /proc/self/statm)",
             "<= 30 us time", ProcessCollectOurs, ProcessCollectPeer);
#endif
