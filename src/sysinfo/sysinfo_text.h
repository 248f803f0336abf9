// Pure functions over the text and records the system hands over: the Windows version record and
// processor registry values, and the Linux /proc and release files. Shared by every platform, so
// that each rule is tested on stored samples everywhere (internal).
#pragma once

#include "qv_string.h"

#include <cstdint>

namespace Quorvel::detail {

// --- Windows -------------------------------------------------------------------------------------

// What the version call returned. With `extended` false the product type, suite bits and
// service-pack number read as 0.
struct tWinVersion {
    bool haveRecord = false; // false: neither the extended nor the basic record could be read
    bool extended = false;
    unsigned platformId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned productType = 0;
    unsigned suiteMask = 0;
    unsigned servicePackMajor = 0;
    const char *servicePackText = ""; // never null
};

enum : unsigned {
    kWinPlatformConsumer = 1,
    kWinPlatformNt = 2,
    kWinProductWorkstation = 1,
    kWinProductServer = 3,
    kWinArchAmd64 = 9,
    kWinSuiteEnterprise = 0x2,
    kWinSuiteTerminal = 0x10,
    kWinSuiteDataCenter = 0x80,
    kWinSuitePersonal = 0x200,
    kWinSuiteBlade = 0x400,
};

// Names the system from its version record, native processor architecture and, for records
// without the extended fields, the "ProductType" registry text (null when it could not be read).
void NameWindowsSystem(const tWinVersion &version, unsigned architecture,
                       const char *productTypeText, cQV_String &shortName, cQV_String &longName);

// The processor key's values as read; a text is null when its read failed or gave no string.
struct tCpuRegistry {
    bool keyOpened = false;
    const char *name = nullptr;       // "ProcessorNameString"
    const char *identifier = nullptr; // "Identifier"
    bool haveMhz = false;             // "~MHz" read as a 32-bit number
    unsigned mhz = 0;
};

void DescribeWindowsProcessor(const tCpuRegistry &reg, cQV_String &name, int &speedMhz);

// --- Linux ---------------------------------------------------------------------------------------

// Processor name and clock from /proc/cpuinfo. `machine` (the kernel's architecture name) stands
// for the name when the text has none.
void ParseCpuInfo(const char *text, const char *machine, cQV_String &name, int &speedMhz);

// The values of a release file (os-release format) that the names use; empty when absent.
struct tOsRelease {
    cQV_String name;
    cQV_String versionId;
    cQV_String prettyName;
};

// Reads KEY=VALUE lines with shell-style quoting; null text gives all fields empty.
void ParseOsRelease(const char *text, tOsRelease &release);

// Short and long names from the release file's values, the kernel's machine and release names.
void NameLinuxSystem(const tOsRelease &release, const char *machine, const char *kernelRelease,
                     cQV_String &shortName, cQV_String &longName);

// The value of a "Key:   123 kB" line of /proc/meminfo in bytes; false when the key is missing.
bool ParseMemInfoValue(const char *text, const char *key, unsigned long long &bytes);

// Available memory, free and total swap from /proc/meminfo. Kernels before 3.14 give no
// MemAvailable; free memory plus buffers and page cache stands for it there. False when a
// figure cannot be found.
bool ParseMemInfo(const char *text, long long &ramAvail, long long &swapAvail, long long &swapMax);

// The processor times from the "cpu" line of /proc/stat, in clock ticks: idle (idle plus I/O
// wait) and total (every state; guest time is already inside user time and is not counted again).
bool ParseProcStatCpu(const char *text, unsigned long long &idle, unsigned long long &total);

// Fields of /proc/<pid>/stat. The command name may hold blanks and parentheses; the fields are
// counted from the last ')'.
struct tProcStat {
    unsigned long long minorFaults = 0;
    unsigned long long majorFaults = 0;
    unsigned long long userTicks = 0;
    unsigned long long systemTicks = 0;
    unsigned long long startTicks = 0; // since boot
    unsigned long long rssPages = 0;
};
bool ParseProcPidStat(const char *text, tProcStat &stat);

// The resident pages (second field) of /proc/<pid>/statm.
bool ParseProcStatm(const char *text, unsigned long long &residentPages);

// Clock ticks to 100-nanosecond units.
unsigned long long TicksTo100ns(unsigned long long ticks, long ticksPerSecond);

} // namespace Quorvel::detail
