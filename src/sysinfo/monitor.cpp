// The system and process monitors: sampling, the load formulas and their failures. The platform
// files only read the counters.
#include "monitor.h"

#include "error_codes.h"
#include "sysinfo_os.h"

#include <new>

namespace Quorvel {

namespace {

const char kModule[] = "ossysinfo";

// The performance counter of the whole machine's processor load.
const char kCpuCounterPath[] = "\\Processor(_Total)\\% Processor Time";

bool Requested(int mask, int figure) {
    return (mask & figure) != 0;
}

cQV_String SysErrorText() {
    return osGetSysErrorStr(osGetSysError());
}

} // namespace

namespace detail {

bool (*gChooseSamplingMode)(bool current) = &PlatformChooseSamplingMode;

int SystemCpuLoad(long long prevTotal, long long prevIdle, long long curTotal, long long curIdle) {
    const long long total = curTotal - prevTotal;
    const long long idle = curIdle - prevIdle;
    if (total == 0) return 0;
    const double load =
        static_cast<double>(total - idle) / static_cast<double>(total) * 100.0 + 0.5;
    // Limit before converting: counters that went backwards give a value far outside int.
    if (!(load > 0)) return 0;
    if (load >= 100) return 100;
    return static_cast<int>(load);
}

bool ProcessCpuLoad(unsigned long long processorTime, unsigned long long wallTime, int cpuCount,
                    int &load) {
    if (wallTime == 0) return false;
    const double span = static_cast<double>(cpuCount) * static_cast<double>(wallTime);
    load = 0;
    if (span == 0) return true;
    const double v = static_cast<double>(processorTime) / span * 100.0 + 0.5;
    if (!(v > 0))
        load = 0;
    else if (v >= 100)
        load = 100;
    else
        load = static_cast<int>(v);
    return true;
}

tPdhQuery::~tPdhQuery() {
    // Closing the query removes its counter as well.
    if (query) PlatformPdhCloseQuery(query);
}

} // namespace detail

// --- system monitor ------------------------------------------------------------------------------

iQV_SysLoadMon::~iQV_SysLoadMon() = default;

iQV_SysLoadMon *iQV_SysLoadMon::Create(cQV_Error *error, int mask) {
    cSysLoadMon *mon = new (std::nothrow) cSysLoadMon;
    if (!mon) {
        QV_FAIL(error, detail::kErrMemory, "Failed to allocate memory. Requested size:%d",
                static_cast<int>(sizeof(cSysLoadMon)));
        return nullptr;
    }
    if (!mon->Init(error, mask)) {
        delete mon;
        return nullptr;
    }
    return mon;
}

cSysLoadMon::~cSysLoadMon() {
    cSysLoadMon::Done();
}

void cSysLoadMon::ReadSystemTimes() {
    detail::tCpuTimes t;
    if (!detail::PlatformReadSystemTimes(t)) t = detail::tCpuTimes();
    _curTotal = t.busyPlusIdle;
    _curIdle = t.idle;
}

bool cSysLoadMon::Init(cQV_Error *error, int mask) {
    Done();
    _mask = mask;
    _ramAvail = _swapAvail = _swapMax = 0;
    _sampling = detail::gChooseSamplingMode(_sampling);
    if (Requested(_mask, eSysLoadCpu)) {
        if (_sampling) {
            ReadSystemTimes();
        } else {
            // Copies of the monitor share the query; the last one closes it.
            std::shared_ptr<detail::tPdhQuery> pdh;
            try {
                pdh = std::make_shared<detail::tPdhQuery>();
            } catch (const std::bad_alloc &) {
            }
            if (!pdh) {
                return QV_FAIL(error, detail::kErrMemory,
                               "Failed to allocate memory. Requested size:%d",
                               static_cast<int>(sizeof(detail::tPdhQuery)));
            }
            long status = detail::PlatformPdhOpenQuery(pdh->query);
            if (status != 0) {
                pdh->query = nullptr;
                return QV_FAIL(error, detail::kErrSystem, "PdhOpenQuery failed. Error code = %d",
                               static_cast<int>(status));
            }
            status = detail::PlatformPdhAddCounter(pdh->query, kCpuCounterPath, pdh->counter);
            if (status != 0) {
                pdh->counter = nullptr;
                detail::PlatformPdhCloseQuery(pdh->query);
                pdh->query = nullptr;
                return QV_FAIL(error, detail::kErrSystem, "PdhAddCounter failed. Error code = %d",
                               static_cast<int>(status));
            }
            _pdh = pdh;
        }
    }
    return Collect(error);
}

bool cSysLoadMon::Collect(cQV_Error *error) {
    if (Requested(_mask, eSysLoadCpu)) {
        if (_sampling) {
            _prevTotal = _curTotal;
            _prevIdle = _curIdle;
            ReadSystemTimes();
        } else {
            if (!_pdh || !_pdh->query)
                return QV_FAIL(error, detail::kErrSystem, "Query is not valid");
            const long status = detail::PlatformPdhCollectQueryData(_pdh->query);
            if (status != 0) {
                return QV_FAIL(error, detail::kErrSystem,
                               "PdhCollectQueryData failed. Error code = %d",
                               static_cast<int>(status));
            }
        }
    }
    if (Requested(_mask, eSysLoadRam | eSysLoadSwap | eSysLoadSwapMax)) {
        detail::tMemStatus m;
        if (!detail::PlatformReadMemoryStatus(m)) {
            return QV_FAIL(error, detail::kErrSystem, "GlobalMemoryStatusEx failed: %s",
                           static_cast<const char *>(SysErrorText()));
        }
        _ramAvail = m.ramAvail;
        _swapAvail = m.swapAvail;
        _swapMax = m.swapMax;
    }
    return true;
}

int cSysLoadMon::GetCpuLoad(cQV_Error *error) {
    if (!Requested(_mask, eSysLoadCpu)) {
        QV_FAIL(error, detail::kErrSystem, "Value is not requested");
        return 0;
    }
    if (_sampling) return detail::SystemCpuLoad(_prevTotal, _prevIdle, _curTotal, _curIdle);
    if (!_pdh || !_pdh->counter) {
        QV_FAIL(error, detail::kErrSystem, "Counter is not valid");
        return 0;
    }
    double value = 0;
    const long status = detail::PlatformPdhGetFormattedCounterValue(_pdh->counter, value);
    if (status != 0) {
        QV_FAIL(error, detail::kErrSystem, "PdhGetFormattedCounterValue failed. Error code = %d",
                static_cast<int>(status));
        return 0;
    }
    // The counter's own figure, rounded but not limited.
    return static_cast<int>(value + 0.5);
}

long long cSysLoadMon::GetRamAvail(cQV_Error *error) {
    if (Requested(_mask, eSysLoadRam)) return _ramAvail;
    QV_FAIL(error, detail::kErrSystem, "Value is not requested");
    return 0;
}

long long cSysLoadMon::GetSwapAvail(cQV_Error *error) {
    if (Requested(_mask, eSysLoadSwap)) return _swapAvail;
    QV_FAIL(error, detail::kErrSystem, "Value is not requested");
    return 0;
}

long long cSysLoadMon::GetSwapMax(cQV_Error *error) {
    if (Requested(_mask, eSysLoadSwapMax)) return _swapMax;
    QV_FAIL(error, detail::kErrSystem, "Value is not requested");
    return 0;
}

void cSysLoadMon::Done() {
    _pdh.reset();
}

// --- process monitor -----------------------------------------------------------------------------

iQV_ProcStatMon::~iQV_ProcStatMon() = default;

iQV_ProcStatMon *iQV_ProcStatMon::Create(cQV_Error *error) {
    cProcStatMon *mon = new (std::nothrow) cProcStatMon;
    if (!mon) {
        QV_FAIL(error, detail::kErrMemory, "Failed to allocate memory. Requested size:%d",
                static_cast<int>(sizeof(cProcStatMon)));
        return nullptr;
    }
    if (!mon->Init(error)) {
        delete mon;
        return nullptr;
    }
    return mon;
}

cProcStatMon::~cProcStatMon() = default;

bool cProcStatMon::Init(cQV_Error *error) {
    _curFaults = 0;
    unsigned long long start = 0;
    if (!detail::PlatformReadProcessStart(start)) {
        return QV_FAIL(error, detail::kErrSystem, "GetProcessTimes failed. %s",
                       static_cast<const char *>(SysErrorText()));
    }
    _curWall = start;
    _curCpu = 0;
    return true;
}

bool cProcStatMon::Collect(cQV_Error *error) {
    _prevWall = _curWall;
    _prevCpu = _curCpu;
    _prevFaults = _curFaults;
    unsigned long long cpu = 0;
    if (!detail::PlatformReadProcessCpu(cpu)) {
        return QV_FAIL(error, detail::kErrSystem, "GetProcessTimes failed. %s",
                       static_cast<const char *>(SysErrorText()));
    }
    _curWall = detail::PlatformGetWallTime();
    _curCpu = cpu;
    unsigned long long faults = 0, workingSet = 0;
    if (!detail::PlatformReadProcessMemory(faults, workingSet)) {
        return QV_FAIL(error, detail::kErrSystem, "GetProcessMemoryInfo failed. %s",
                       static_cast<const char *>(SysErrorText()));
    }
    // The count is kept in 32 bits; the difference of two readings stays right across a wrap.
    _curFaults = static_cast<unsigned>(faults);
    _memory = workingSet;
    return true;
}

int cProcStatMon::GetProcCpuLoad(cQV_Error *error) {
    int load = 0;
    if (!detail::ProcessCpuLoad(_curCpu - _prevCpu, _curWall - _prevWall,
                                cQV_SysInfo::GetCpuCount(), load)) {
        QV_FAIL(error, detail::kErrSystem, "Failed to calculate");
        return 0;
    }
    return load;
}

int cProcStatMon::GetProcPageFaultCount() {
    return static_cast<int>(_curFaults - _prevFaults);
}

unsigned long long cProcStatMon::GetProcMemoryLoad() {
    return _memory;
}

// --- free functions ------------------------------------------------------------------------------

unsigned long long osGetCurProcVMSize() {
    unsigned long long faults = 0, workingSet = 0;
    return detail::PlatformReadProcessMemory(faults, workingSet) ? workingSet : 0;
}

void osGetProcessTime(cQV_SysTime &time) {
    unsigned long long cpu = 0;
    if (!detail::PlatformReadProcessCpu(cpu)) cpu = 0;
    time = cQV_SysTime(static_cast<uint64_t>(cpu * 100ULL));
}

bool osGetProcessTime(unsigned int processId, cQV_SysTime &time) {
    unsigned long long cpu = 0;
    switch (detail::PlatformGetProcessTime(processId, cpu)) {
    case detail::eProcTimeResult::NotOpened:
        return false;
    case detail::eProcTimeResult::NotRead:
        time = cQV_SysTime(static_cast<uint64_t>(0));
        return false;
    case detail::eProcTimeResult::Read:
        break;
    }
    time = cQV_SysTime(static_cast<uint64_t>(cpu * 100ULL));
    return true;
}

} // namespace Quorvel
