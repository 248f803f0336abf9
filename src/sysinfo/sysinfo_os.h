// Platform primitives behind the system information and the monitors (internal). They only read
// what the system offers; every rule over what they read lives in the shared files.
#pragma once

#include "qv_string.h"
#include "qv_sysinfo.h"

namespace Quorvel::detail {

// The facts read once at load.
struct tSysFacts {
    int cpuCount = 0;
    cQV_String cpuName;
    int cpuSpeed = 0;
    unsigned long long ramSize = 0;
    cQV_String osShortName;
    cQV_String osLongName;
};

// Fills every fact; a fact the system does not give keeps its default. Runs while the library
// loads, so on Windows it makes no call that may load another DLL.
void PlatformReadSysFacts(tSysFacts &facts);
// Releases what the monitors kept open between samples; called once at unload.
void PlatformReleaseSysInfo();

eQV_HostType PlatformGetHostType();

// All processor time of the system (busy plus idle) and its idle part, in 100-ns units.
struct tCpuTimes {
    long long busyPlusIdle = 0;
    long long idle = 0;
};

// Whether processor load comes from the system times (true) or from the performance counter;
// `current` is kept when the platform's version cannot be read or is too old.
bool PlatformChooseSamplingMode(bool current);
// False when the times cannot be read.
bool PlatformReadSystemTimes(tCpuTimes &times);

// The performance-counter interface; each returns its status, 0 on success. Where the platform has
// no such interface the calls fail with a non-zero status.
long PlatformPdhOpenQuery(void *&query);
long PlatformPdhAddCounter(void *query, const char *path, void *&counter);
void PlatformPdhCloseQuery(void *query);
long PlatformPdhCollectQueryData(void *query);
long PlatformPdhGetFormattedCounterValue(void *counter, double &value);

struct tMemStatus {
    long long ramAvail = 0;
    long long swapAvail = 0;
    long long swapMax = 0;
};
// False with the system's error code set (osGetSysError) when the status cannot be read.
bool PlatformReadMemoryStatus(tMemStatus &status);

// The calling process's creation time on the wall clock of PlatformGetWallTime, and its kernel plus
// user time, in 100-ns units. False with the system's error code set.
bool PlatformReadProcessStart(unsigned long long &wall);
bool PlatformReadProcessCpu(unsigned long long &cpu);
// The clock the process monitor measures its intervals on, in 100-ns units.
unsigned long long PlatformGetWallTime();
// Page faults and working-set size in bytes. False with the system's error code set.
bool PlatformReadProcessMemory(unsigned long long &pageFaults, unsigned long long &workingSet);

enum class eProcTimeResult { Read, NotOpened, NotRead };
// Kernel plus user time of the process processId in 100-ns units.
eProcTimeResult PlatformGetProcessTime(unsigned processId, unsigned long long &cpu);

} // namespace Quorvel::detail
