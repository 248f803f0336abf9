// The monitors' implementation classes and the load formulas they share (internal).
#pragma once

#include "qv_sysinfo.h"

#include <memory>

namespace Quorvel {

namespace detail {

// Processor load in whole percent from two samples of the system's processor times: T = total
// advance, I = idle advance; (T - I) / T * 100 + 0.5 truncated, limited to 0..100; 0 when T is 0.
int SystemCpuLoad(long long prevTotal, long long prevIdle, long long curTotal, long long curIdle);

// A process's processor load in whole percent: P / (N * W) * 100 + 0.5 truncated, limited to
// 0..100, for processor time P over wall time W on N processors (N * W of 0 gives 0). False when
// W is 0.
bool ProcessCpuLoad(unsigned long long processorTime, unsigned long long wallTime, int cpuCount,
                    int &load);

// How a system monitor chooses its sampling mode; a test may put another rule in its place to
// reach the counter mode where the platform would always sample the system times.
extern bool (*gChooseSamplingMode)(bool current);

// An open performance-counter query with its one counter, closed when the last monitor copy that
// shares it lets go.
struct tPdhQuery {
    void *query = nullptr;
    void *counter = nullptr;
    tPdhQuery() = default;
    tPdhQuery(const tPdhQuery &) = delete;
    tPdhQuery &operator=(const tPdhQuery &) = delete;
    ~tPdhQuery();
};

} // namespace detail

class cSysLoadMon : public iQV_SysLoadMon {
public:
    cSysLoadMon() = default;
    cSysLoadMon(const cSysLoadMon &) = default;
    cSysLoadMon &operator=(const cSysLoadMon &) = default;
    ~cSysLoadMon() override;

    bool Init(cQV_Error *error, int mask) override;
    bool Collect(cQV_Error *error) override;
    int GetCpuLoad(cQV_Error *error) override;
    long long GetRamAvail(cQV_Error *error) override;
    long long GetSwapAvail(cQV_Error *error) override;
    long long GetSwapMax(cQV_Error *error) override;
    void Done() override;

    bool SamplingMode() const { return _sampling; }

private:
    long long _ramAvail = 0;
    long long _swapAvail = 0;
    long long _swapMax = 0;
    std::shared_ptr<detail::tPdhQuery> _pdh; // counter mode only
    long long _prevTotal = 0;
    long long _prevIdle = 0;
    long long _curTotal = 0;
    long long _curIdle = 0;
    bool _sampling = false;

    void ReadSystemTimes();
};

class cProcStatMon : public iQV_ProcStatMon {
public:
    cProcStatMon() = default;
    cProcStatMon(const cProcStatMon &) = default;
    cProcStatMon &operator=(const cProcStatMon &) = default;
    ~cProcStatMon() override;

    bool Init(cQV_Error *error);
    bool Collect(cQV_Error *error) override;
    int GetProcCpuLoad(cQV_Error *error) override;
    int GetProcPageFaultCount() override;
    unsigned long long GetProcMemoryLoad() override;

private:
    unsigned long long _prevWall = 0;
    unsigned long long _curWall = 0;
    unsigned long long _prevCpu = 0;
    unsigned long long _curCpu = 0;
    unsigned _prevFaults = 0;
    unsigned _curFaults = 0;
    unsigned long long _memory = 0;
};

} // namespace Quorvel
