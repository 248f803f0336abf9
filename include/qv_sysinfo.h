// Facts about the machine (processor, memory, operating system) and monitors of system and process
// load.
//
// The facts are read once, while the library is loaded, and never refreshed. The monitors sample
// only when the caller calls Collect; they start no thread. Failures of the monitors fill the
// caller's error record with module "ossysinfo"; the messages below are part of the interface.
#pragma once

#include "qv_error.h"
#include "qv_os_export.h"
#include "qv_string.h"
#include "qv_time.h"

namespace Quorvel {

// The framework's array template; this library defines no operation of it.
template <typename T> class ctQV_Array;

// The kind of host the library was built for; the values are character codes.
enum eQV_HostType {
    eHostLinux = 76,   // 'L'
    eHostWindows = 87, // 'W'
    eHostUnknown = 85, // 'U'
};

// Facts about the machine, as static functions; the class has no object.
class QV_OS_API cQV_SysInfo {
public:
    // Does nothing: there is no state to copy.
    cQV_SysInfo &operator=(const cQV_SysInfo &) { return *this; }

    // Number of logical processors (Linux: processors online).
    static int GetCpuCount();
    // Processor description. Windows: "x86", the processor's name string, or the name string, ": "
    // and its identifier. Linux: the model name (the machine's architecture when the system names
    // none), ": " and an identifier (family, model and stepping, or the equivalent the system
    // gives) when there is one.
    static cQV_String GetCpuName();
    // Processor clock in MHz; 0 when unknown.
    static int GetCpuSpeed();
    // Total physical memory in bytes; 0 when unknown.
    static unsigned long long GetRamSize();
    // Short and long operating-system names. Windows: for instance "Win7 x64 Prof" and "Microsoft
    // Windows 7 x64 Professional SP1". Linux: for instance "Debian 12 x64" and "Debian GNU/Linux 12
    // (bookworm) x64, kernel 6.1.0".
    static cQV_String GetOsShortName();
    static cQV_String GetOsLongName();
    // eHostWindows in the Windows build, eHostLinux in the Linux build.
    static eQV_HostType GetHostType();
    // eHostLinux for exactly "Linux", eHostWindows for exactly "Windows", else eHostUnknown
    // (case-sensitive). name must not be null.
    static eQV_HostType GetHostTypeId(const char *name);
    // "Linux", "Windows", or "Unknown" for any other value.
    static const char *GetHostTypeStr(eQV_HostType type);
    // Not implemented in this build: returns 0 and leaves the array untouched.
    static unsigned int EnumProcesses(ctQV_Array<unsigned int> &processes);

private:
    cQV_SysInfo() = default;
};

// Facts about other processes, as static functions.
class QV_OS_API iQV_ProcInfo {
public:
    // Does nothing: there is no state to copy.
    iQV_ProcInfo &operator=(const iQV_ProcInfo &) { return *this; }
    // Not implemented in this build: returns false and leaves name untouched.
    static bool GetName(unsigned int processId, cQV_String &name);
};

// The figures a system monitor maintains, as bits of its request mask.
enum eQV_SysLoadFigure {
    eSysLoadCpu = 1,     // processor load (GetCpuLoad)
    eSysLoadRam = 2,     // available physical memory (GetRamAvail)
    eSysLoadSwap = 4,    // available swap (GetSwapAvail)
    eSysLoadSwapMax = 8, // swap limit (GetSwapMax)
};

// Monitor of the whole machine's load. Use: Create, then Collect followed by the getters, then
// delete. Used by one thread at a time.
class QV_OS_API iQV_SysLoadMon {
public:
    virtual ~iQV_SysLoadMon();
    // Copies the requested mask; copies of a monitor share its performance-counter query (see
    // Done).
    iQV_SysLoadMon(const iQV_SysLoadMon &) = default;
    iQV_SysLoadMon &operator=(const iQV_SysLoadMon &) = default;

    // Prepares sampling for the figures in mask and takes the first samples; may be called again
    // to change the mask. Windows before 5.1, or without the system-times call, reads the
    // processor load from a performance counter: "PdhOpenQuery failed. Error code = %d",
    // "PdhAddCounter failed. Error code = %d" (code 1).
    virtual bool Init(cQV_Error *error, int mask) = 0;
    // Takes a new sample of every requested figure. "Query is not valid", "PdhCollectQueryData
    // failed. Error code = %d" (counter mode), "GlobalMemoryStatusEx failed: %s" (code 1).
    virtual bool Collect(cQV_Error *error) = 0;
    // Processor load in whole percent (0 to 100) over the interval between the last two samples;
    // 0 when no time passed. 0 and "Value is not requested" without eSysLoadCpu; in counter mode
    // "Counter is not valid" and "PdhGetFormattedCounterValue failed. Error code = %d".
    virtual int GetCpuLoad(cQV_Error *error) = 0;
    // Bytes from the last Collect; 0 and "Value is not requested" when the figure's bit is not in
    // the mask. Linux: available memory, free swap and total swap.
    virtual long long GetRamAvail(cQV_Error *error) = 0;
    virtual long long GetSwapAvail(cQV_Error *error) = 0;
    virtual long long GetSwapMax(cQV_Error *error) = 0;
    // Releases the performance-counter query and counter if any (copies share them; the last one
    // released closes them).
    virtual void Done() = 0;

    // A ready monitor of the figures in mask, or null: "Failed to allocate memory. Requested
    // size:%d" (code 7), or the failure of Init.
    static iQV_SysLoadMon *Create(cQV_Error *error, int mask);

protected:
    iQV_SysLoadMon() = default;
    // The eQV_SysLoadFigure bits of the last Init.
    int _mask = 0;
};

// Monitor of the calling process. Use: Create, then Collect followed by the getters, then delete.
// The first interval runs from the start of the process to the first Collect.
class QV_OS_API iQV_ProcStatMon {
public:
    iQV_ProcStatMon() = default;
    // The interface holds no state; a monitor's copy goes on from the original's samples.
    iQV_ProcStatMon(const iQV_ProcStatMon &) = default;
    iQV_ProcStatMon &operator=(const iQV_ProcStatMon &) = default;
    virtual ~iQV_ProcStatMon();

    // Takes a new sample: "GetProcessTimes failed. %s", "GetProcessMemoryInfo failed. %s" (code
    // 1, with the system's error text).
    virtual bool Collect(cQV_Error *error) = 0;
    // The process's processor load over the last interval in whole percent, 100 meaning every
    // processor busy; 0 and "Failed to calculate" when both samples fall on one clock tick.
    virtual int GetProcCpuLoad(cQV_Error *error) = 0;
    // Page faults during the last interval (after the first Collect: all so far). Linux: minor
    // plus major faults.
    virtual int GetProcPageFaultCount() = 0;
    // Working-set (resident) size in bytes at the last Collect.
    virtual unsigned long long GetProcMemoryLoad() = 0;

    // A ready monitor, or null: "Failed to allocate memory. Requested size:%d" (code 7), or
    // "GetProcessTimes failed. %s".
    static iQV_ProcStatMon *Create(cQV_Error *error);
};

// The calling process's working-set (resident) size in bytes now; 0 if it cannot be read.
QV_OS_API unsigned long long osGetCurProcVMSize();
// The calling process's kernel plus user processor time; 0 if it cannot be read.
QV_OS_API void osGetProcessTime(cQV_SysTime &time);
// The same for the process processId. False if the process cannot be opened (time untouched) or
// its times cannot be read (time set to 0).
QV_OS_API bool osGetProcessTime(unsigned int processId, cQV_SysTime &time);

} // namespace Quorvel
