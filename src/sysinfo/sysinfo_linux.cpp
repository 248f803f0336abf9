// System information and monitors on Linux: /proc, the release file, uname and sysconf. Only
// reading happens here; the text is parsed by the shared functions of sysinfo_text.cpp.
#include "sysinfo_os.h"
#include "sysinfo_text.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

namespace Quorvel::detail {

namespace {

// Reads at most `limit` bytes of a file from its start through an open descriptor. With `once`,
// one read is taken as the whole text: the kernel hands over a short /proc text in one read when
// the buffer holds it, and asking again for the end of the file would make it produce the text
// a second time.
bool ReadFrom(int fd, std::string &text, size_t limit, bool once = false) {
    try {
        text.resize(limit);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    }
    size_t len = 0;
    while (len < limit) {
        const ssize_t n = pread(fd, &text[len], limit - len, static_cast<off_t>(len));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        len += static_cast<size_t>(n);
        if (once) break;
    }
    text.resize(len);
    return true;
}

bool ReadFile(const char *path, std::string &text, size_t limit) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ReadFrom(fd, text, limit);
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

// A /proc file the monitors read at every sample. Opening costs as much as reading, so the
// descriptor stays open and each sample reads it again from offset 0 (the kernel renews the text
// then). A "self" file names the process that opened it, so a forked child opens its own.
class tProcFile {
public:
    // Constant-initialised: no code runs for these objects while the library loads.
    constexpr explicit tProcFile(const char *path) : _path(path) {}

    bool Read(std::string &text, size_t limit) {
        std::lock_guard<std::mutex> lock(_lock);
        const pid_t self = getpid();
        if (_fd >= 0 && _owner != self) {
            close(_fd);
            _fd = -1;
        }
        if (_fd < 0) {
            _fd = open(_path, O_RDONLY | O_CLOEXEC);
            if (_fd < 0) return false;
            _owner = self;
        }
        return ReadFrom(_fd, text, limit, true);
    }

    void Close() {
        std::lock_guard<std::mutex> lock(_lock);
        if (_fd >= 0) close(_fd);
        _fd = -1;
    }

private:
    const char *_path;
    std::mutex _lock;
    int _fd = -1;
    pid_t _owner = 0;
};

tProcFile gStat("/proc/stat");
tProcFile gMemInfo("/proc/meminfo");
tProcFile gSelfStatm("/proc/self/statm");

// The "cpu" line comes first and is short; the rest of /proc/stat (one line per processor, the
// interrupt counts) is not needed.
const size_t kStatPrefix = 512;
// The meminfo lines wanted lie in its first 1.5 KiB on every kernel.
const size_t kMemInfoLimit = 4096;
// The first processor block of /proc/cpuinfo, with room for the s390 header before it.
const size_t kCpuInfoLimit = 64 * 1024;

long TicksPerSecond() {
    static const long hz = sysconf(_SC_CLK_TCK);
    return hz;
}

unsigned long long PageSize() {
    static const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<unsigned long long>(size) : 4096ULL;
}

unsigned long long TimespecTo100ns(const timespec &t) {
    return static_cast<unsigned long long>(t.tv_sec) * 10000000ULL +
           static_cast<unsigned long long>(t.tv_nsec) / 100ULL;
}

} // namespace

void PlatformReadSysFacts(tSysFacts &facts) {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    facts.cpuCount = online > 0 ? static_cast<int>(online) : 1;

    struct utsname uts = {};
    const bool haveUts = uname(&uts) == 0;
    const char *machine = haveUts ? uts.machine : "";

    std::string text;
    if (!ReadFile("/proc/cpuinfo", text, kCpuInfoLimit)) text.clear();
    ParseCpuInfo(text.c_str(), machine, facts.cpuName, facts.cpuSpeed);

    // The distribution's file first, the vendor's default second.
    tOsRelease release;
    if (ReadFile("/etc/os-release", text, 16384) || ReadFile("/usr/lib/os-release", text, 16384))
        ParseOsRelease(text.c_str(), release);
    NameLinuxSystem(release, machine, haveUts ? uts.release : "", facts.osShortName,
                    facts.osLongName);

    unsigned long long total = 0;
    if (ReadFile("/proc/meminfo", text, kMemInfoLimit) &&
        ParseMemInfoValue(text.c_str(), "MemTotal", total))
        facts.ramSize = total;
}

void PlatformReleaseSysInfo() {
    gStat.Close();
    gMemInfo.Close();
    gSelfStatm.Close();
}

eQV_HostType PlatformGetHostType() {
    return eHostLinux;
}

bool PlatformChooseSamplingMode(bool) {
    // The kernel's processor time counters are always there; no counter interface exists.
    return true;
}

bool PlatformReadSystemTimes(tCpuTimes &times) {
    std::string text;
    unsigned long long idle = 0, total = 0;
    if (!gStat.Read(text, kStatPrefix) || !ParseProcStatCpu(text.c_str(), idle, total))
        return false;
    times.idle = static_cast<long long>(TicksTo100ns(idle, TicksPerSecond()));
    times.busyPlusIdle = static_cast<long long>(TicksTo100ns(total, TicksPerSecond()));
    return true;
}

long PlatformPdhOpenQuery(void *&query) {
    query = nullptr;
    return ENOSYS;
}

long PlatformPdhAddCounter(void *, const char *, void *&counter) {
    counter = nullptr;
    return ENOSYS;
}

void PlatformPdhCloseQuery(void *) {}

long PlatformPdhCollectQueryData(void *) {
    return ENOSYS;
}

long PlatformPdhGetFormattedCounterValue(void *, double &value) {
    value = 0;
    return ENOSYS;
}

bool PlatformReadMemoryStatus(tMemStatus &status) {
    std::string text;
    if (!gMemInfo.Read(text, kMemInfoLimit)) return false;
    if (!ParseMemInfo(text.c_str(), status.ramAvail, status.swapAvail, status.swapMax)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool PlatformReadProcessStart(unsigned long long &wall) {
    std::string text;
    tProcStat stat;
    if (!ReadFile("/proc/self/stat", text, 4096)) return false;
    if (!ParseProcPidStat(text.c_str(), stat)) {
        errno = EINVAL;
        return false;
    }
    // The start is counted in clock ticks since boot, the clock PlatformGetWallTime reads.
    wall = TicksTo100ns(stat.startTicks, TicksPerSecond());
    return true;
}

bool PlatformReadProcessCpu(unsigned long long &cpu) {
    struct rusage usage = {};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return false;
    cpu = (static_cast<unsigned long long>(usage.ru_utime.tv_sec) +
           static_cast<unsigned long long>(usage.ru_stime.tv_sec)) *
              10000000ULL +
          (static_cast<unsigned long long>(usage.ru_utime.tv_usec) +
           static_cast<unsigned long long>(usage.ru_stime.tv_usec)) *
              10ULL;
    return true;
}

unsigned long long PlatformGetWallTime() {
    // Time since boot, suspended time included: the clock of a process's start time in /proc.
    timespec t = {};
    if (clock_gettime(CLOCK_BOOTTIME, &t) != 0) return 0;
    return TimespecTo100ns(t);
}

bool PlatformReadProcessMemory(unsigned long long &pageFaults, unsigned long long &workingSet) {
    struct rusage usage = {};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return false;
    std::string text;
    unsigned long long pages = 0;
    if (!gSelfStatm.Read(text, 256)) return false;
    if (!ParseProcStatm(text.c_str(), pages)) {
        errno = EINVAL;
        return false;
    }
    pageFaults = static_cast<unsigned long long>(usage.ru_minflt) +
                 static_cast<unsigned long long>(usage.ru_majflt);
    workingSet = pages * PageSize();
    return true;
}

eProcTimeResult PlatformGetProcessTime(unsigned processId, unsigned long long &cpu) {
    // Ids above the largest pid_t name no process; 0 is not a process either.
    if (processId == 0 || processId > 0x7FFFFFFFu) return eProcTimeResult::NotOpened;
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%u/stat", processId);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return eProcTimeResult::NotOpened;
    std::string text;
    const bool read = ReadFrom(fd, text, 4096);
    close(fd);
    tProcStat stat;
    if (!read || !ParseProcPidStat(text.c_str(), stat)) return eProcTimeResult::NotRead;
    cpu = TicksTo100ns(stat.userTicks + stat.systemTicks, TicksPerSecond());
    return eProcTimeResult::Read;
}

} // namespace Quorvel::detail
