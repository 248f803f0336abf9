// System information and monitors on Windows: the version record, the processor's registry
// values, memory status, system and process times, and the performance-counter interface. The
// naming rules over what is read here live in sysinfo_text.cpp.
#include "sysinfo_os.h"
#include "sysinfo_text.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include <windows.h>
#include <pdh.h>
#include <psapi.h>

namespace Quorvel::detail {

namespace {

unsigned long long FromFileTime(const FILETIME &t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Reads a string value into a buffer of `size` bytes; null when the read fails or the value is
// not a string. The last byte is forced to NUL: a stored string need not be terminated.
const char *ReadRegString(HKEY key, const char *value, char *buf, DWORD size) {
    DWORD type = 0;
    DWORD len = size;
    if (RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE *>(buf), &len) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return nullptr;
    buf[size - 1] = '\0';
    if (len < size) buf[len] = '\0';
    return buf;
}

void DescribeProcessor(tSysFacts &facts) {
    SYSTEM_INFO si = {};
    GetSystemInfo(&si);
    facts.cpuCount = static_cast<int>(si.dwNumberOfProcessors);

    tCpuRegistry reg;
    char name[256] = {0};
    char identifier[256] = {0};
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                      KEY_READ, &key) == ERROR_SUCCESS) {
        reg.keyOpened = true;
        reg.name = ReadRegString(key, "ProcessorNameString", name, sizeof name);
        if (reg.name)
            reg.identifier = ReadRegString(key, "Identifier", identifier, sizeof identifier);
        if (reg.identifier) {
            DWORD mhz = 0, type = 0, len = sizeof mhz;
            if (RegQueryValueExA(key, "~MHz", nullptr, &type, reinterpret_cast<BYTE *>(&mhz),
                                 &len) == ERROR_SUCCESS &&
                type == REG_DWORD) {
                reg.haveMhz = true;
                reg.mhz = mhz;
            }
        }
        RegCloseKey(key);
    }
    DescribeWindowsProcessor(reg, facts.cpuName, facts.cpuSpeed);
}

void NameSystem(tSysFacts &facts) {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    tWinVersion v;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&info))) {
        v.extended = true;
    } else {
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&info))) return;
    }
    v.haveRecord = true;
    v.platformId = info.dwPlatformId;
    v.major = info.dwMajorVersion;
    v.minor = info.dwMinorVersion;
    info.szCSDVersion[sizeof info.szCSDVersion - 1] = '\0';
    v.servicePackText = info.szCSDVersion;
    if (v.extended) {
        v.productType = info.wProductType;
        v.suiteMask = info.wSuiteMask;
        v.servicePackMajor = info.wServicePackMajor;
    }

    SYSTEM_INFO si = {};
    GetNativeSystemInfo(&si);

    // Systems without the extended record name their product type in the registry.
    char productType[80] = {0};
    const char *productText = nullptr;
    if (!v.extended && v.platformId == kWinPlatformNt) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                          0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            productText = ReadRegString(key, "ProductType", productType, sizeof productType);
            RegCloseKey(key);
        }
    }
    NameWindowsSystem(v, si.wProcessorArchitecture, productText, facts.osShortName,
                      facts.osLongName);
}

// --- performance counters, loaded at first use ---------------------------------------------------

using PdhOpenQueryFn = PDH_STATUS(WINAPI *)(LPCSTR, DWORD_PTR, PDH_HQUERY *);
using PdhAddCounterFn = PDH_STATUS(WINAPI *)(PDH_HQUERY, LPCSTR, DWORD_PTR, PDH_HCOUNTER *);
using PdhCloseQueryFn = PDH_STATUS(WINAPI *)(PDH_HQUERY);
using PdhCollectQueryDataFn = PDH_STATUS(WINAPI *)(PDH_HQUERY);
using PdhGetFormattedCounterValueFn = PDH_STATUS(WINAPI *)(PDH_HCOUNTER, DWORD, LPDWORD,
                                                           PPDH_FMT_COUNTERVALUE);

// pdh.dll is loaded the first time a monitor needs the counter, never while the library loads
// (the loader lock forbids loading a DLL there), and stays loaded until the process ends.
struct tPdhApi {
    long loadError = 0;
    PdhOpenQueryFn openQuery = nullptr;
    PdhAddCounterFn addCounter = nullptr;
    PdhCloseQueryFn closeQuery = nullptr;
    PdhCollectQueryDataFn collect = nullptr;
    PdhGetFormattedCounterValueFn getValue = nullptr;
};

template <typename Fn> Fn Lookup(HMODULE module, const char *name) {
    Fn fn = nullptr;
    FARPROC p = GetProcAddress(module, name);
    static_assert(sizeof fn == sizeof p, "function pointers differ in size");
    std::memcpy(&fn, &p, sizeof fn);
    return fn;
}

const tPdhApi &Pdh() {
    static std::once_flag once;
    static tPdhApi api;
    std::call_once(once, [] {
        HMODULE module = LoadLibraryA("pdh.dll");
        if (!module) {
            api.loadError = static_cast<long>(GetLastError());
            return;
        }
        api.openQuery = Lookup<PdhOpenQueryFn>(module, "PdhOpenQueryA");
        api.addCounter = Lookup<PdhAddCounterFn>(module, "PdhAddCounterA");
        api.closeQuery = Lookup<PdhCloseQueryFn>(module, "PdhCloseQuery");
        api.collect = Lookup<PdhCollectQueryDataFn>(module, "PdhCollectQueryData");
        api.getValue = Lookup<PdhGetFormattedCounterValueFn>(module, "PdhGetFormattedCounterValue");
        if (!api.openQuery || !api.addCounter || !api.closeQuery || !api.collect || !api.getValue)
            api.loadError = ERROR_PROC_NOT_FOUND;
    });
    return api;
}

// --- system times --------------------------------------------------------------------------------

using GetSystemTimesFn = BOOL(WINAPI *)(FILETIME *, FILETIME *, FILETIME *);

// Looked up once for all monitors; every thread that looks it up stores the same address.
std::atomic<GetSystemTimesFn> gGetSystemTimes{nullptr};

} // namespace

void PlatformReadSysFacts(tSysFacts &facts) {
    DescribeProcessor(facts);
    NameSystem(facts);
    MEMORYSTATUSEX mem;
    std::memset(&mem, 0, sizeof mem);
    mem.dwLength = sizeof mem;
    if (GlobalMemoryStatusEx(&mem)) facts.ramSize = mem.ullTotalPhys;
}

void PlatformReleaseSysInfo() {}

eQV_HostType PlatformGetHostType() {
    return eHostWindows;
}

bool PlatformChooseSamplingMode(bool current) {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return current;
    if (!(info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.dwMinorVersion >= 1)))
        return current;
    if (!gGetSystemTimes.load(std::memory_order_acquire)) {
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        if (kernel)
            gGetSystemTimes.store(Lookup<GetSystemTimesFn>(kernel, "GetSystemTimes"),
                                  std::memory_order_release);
    }
    return gGetSystemTimes.load(std::memory_order_acquire) != nullptr;
}

bool PlatformReadSystemTimes(tCpuTimes &times) {
    GetSystemTimesFn fn = gGetSystemTimes.load(std::memory_order_acquire);
    FILETIME idle = {}, kernel = {}, user = {};
    if (!fn || !fn(&idle, &kernel, &user)) return false;
    // Kernel time includes the idle time, so kernel plus user is all processor time.
    times.idle = static_cast<long long>(FromFileTime(idle));
    times.busyPlusIdle = static_cast<long long>(FromFileTime(kernel) + FromFileTime(user));
    return true;
}

long PlatformPdhOpenQuery(void *&query) {
    const tPdhApi &api = Pdh();
    query = nullptr;
    if (api.loadError) return api.loadError;
    PDH_HQUERY q = nullptr;
    const PDH_STATUS status = api.openQuery(nullptr, 0, &q);
    if (status == ERROR_SUCCESS) query = q;
    return static_cast<long>(status);
}

long PlatformPdhAddCounter(void *query, const char *path, void *&counter) {
    const tPdhApi &api = Pdh();
    counter = nullptr;
    if (api.loadError) return api.loadError;
    PDH_HCOUNTER c = nullptr;
    const PDH_STATUS status = api.addCounter(query, path, 0, &c);
    if (status == ERROR_SUCCESS) counter = c;
    return static_cast<long>(status);
}

void PlatformPdhCloseQuery(void *query) {
    const tPdhApi &api = Pdh();
    if (!api.loadError && query) api.closeQuery(query);
}

long PlatformPdhCollectQueryData(void *query) {
    const tPdhApi &api = Pdh();
    if (api.loadError) return api.loadError;
    return static_cast<long>(api.collect(query));
}

long PlatformPdhGetFormattedCounterValue(void *counter, double &value) {
    const tPdhApi &api = Pdh();
    if (api.loadError) return api.loadError;
    PDH_FMT_COUNTERVALUE v;
    std::memset(&v, 0, sizeof v);
    const PDH_STATUS status = api.getValue(counter, PDH_FMT_DOUBLE, nullptr, &v);
    if (status == ERROR_SUCCESS) value = v.doubleValue;
    return static_cast<long>(status);
}

bool PlatformReadMemoryStatus(tMemStatus &status) {
    MEMORYSTATUSEX mem;
    std::memset(&mem, 0, sizeof mem);
    mem.dwLength = sizeof mem;
    if (!GlobalMemoryStatusEx(&mem)) return false;
    status.ramAvail = static_cast<long long>(mem.ullAvailPhys);
    status.swapAvail = static_cast<long long>(mem.ullAvailPageFile);
    status.swapMax = static_cast<long long>(mem.ullTotalPageFile);
    return true;
}

bool PlatformReadProcessStart(unsigned long long &wall) {
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return false;
    wall = FromFileTime(created);
    return true;
}

bool PlatformReadProcessCpu(unsigned long long &cpu) {
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return false;
    cpu = FromFileTime(kernel) + FromFileTime(user);
    return true;
}

unsigned long long PlatformGetWallTime() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return FromFileTime(now);
}

bool PlatformReadProcessMemory(unsigned long long &pageFaults, unsigned long long &workingSet) {
    PROCESS_MEMORY_COUNTERS counters;
    std::memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return false;
    pageFaults = counters.PageFaultCount;
    workingSet = counters.WorkingSetSize;
    return true;
}

eProcTimeResult PlatformGetProcessTime(unsigned processId, unsigned long long &cpu) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process) return eProcTimeResult::NotOpened;
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    const bool ok = GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
    CloseHandle(process);
    if (!ok) return eProcTimeResult::NotRead;
    cpu = FromFileTime(kernel) + FromFileTime(user);
    return eProcTimeResult::Read;
}

} // namespace Quorvel::detail
