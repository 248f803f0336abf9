// Clock reading: the library's clocks against the platform clock they are built on.
#include <ctime>

#include "bench_table.h"
#include "qv_time.h"

using Quorvel::cQV_SysTime;
using Quorvel::tTimeb;

namespace {

void TimebGetTime(benchmark::State &state) {
    tTimeb t;
    for (auto _ : state) {
        t.GetTime();
        benchmark::DoNotOptimize(t);
    }
    state.SetItemsProcessed(state.iterations());
}

void SysTimeGetSysTime(benchmark::State &state) {
    cQV_SysTime t;
    for (auto _ : state) {
        t.GetSysTime();
        benchmark::DoNotOptimize(t);
    }
    state.SetItemsProcessed(state.iterations());
}

void ClockGettime(benchmark::State &state) {
    timespec ts;
    for (auto _ : state) {
        clock_gettime(CLOCK_REALTIME, &ts);
        benchmark::DoNotOptimize(ts);
    }
    state.SetItemsProcessed(state.iterations());
}

QV_BENCH_ROW(timeb, "tTimeb::GetTime vs clock_gettime", "<= 1.2x time", TimebGetTime, ClockGettime);
QV_BENCH_ROW(systime, "cQV_SysTime::GetSysTime vs clock_gettime", "<= 1.2x time", SysTimeGetSysTime,
             ClockGettime);

} // namespace
