// Clock and local-time primitives on Windows.
#include "filetime.h"
#include "time_os.h"

#include <windows.h>

namespace Quorvel::detail {

namespace {

uint64_t FileTimeNow() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Local time under the rules the zone had in the year converted (its dynamic daylight-saving
// records): the plain SystemTimeToTzSpecificLocalTime with the current zone applies this year's
// rule to every year. SystemTimeToTzSpecificLocalTimeEx does the year-specific conversion; the
// toolchain's headers declare it only for later system versions and some systems lack it, so it is
// looked up by name, and without it the zone's rule for the year is fetched and applied.
using tToLocalEx = BOOL(WINAPI *)(const DYNAMIC_TIME_ZONE_INFORMATION *, const SYSTEMTIME *,
                                  LPSYSTEMTIME);

tToLocalEx LookUpToLocalEx() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return nullptr;
    // Through void (*)(): the one function type a cast to another one does not warn about.
    return reinterpret_cast<tToLocalEx>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SystemTimeToTzSpecificLocalTimeEx")));
}

bool ToLocalForYear(const DYNAMIC_TIME_ZONE_INFORMATION &zone, int year, const SYSTEMTIME &utc,
                    SYSTEMTIME &local) {
    TIME_ZONE_INFORMATION rule;
    if (year < 1 || year > 30827) return false;
    // The cast drops const only: the call reads the zone record.
    if (!GetTimeZoneInformationForYear(static_cast<USHORT>(year),
                                       const_cast<DYNAMIC_TIME_ZONE_INFORMATION *>(&zone), &rule))
        return false;
    return SystemTimeToTzSpecificLocalTime(&rule, &utc, &local) != FALSE;
}

bool UtcToLocalSystemTime(const SYSTEMTIME &utc, SYSTEMTIME &local) {
    static const tToLocalEx toLocalEx = LookUpToLocalEx();
    DYNAMIC_TIME_ZONE_INFORMATION zone;
    if (GetDynamicTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID) {
        if (toLocalEx) {
            if (toLocalEx(&zone, &utc, &local)) return true;
        } else if (ToLocalForYear(zone, utc.wYear, utc, local)) {
            // Near New Year the local date can lie in the neighbouring year, whose rule holds.
            if (local.wYear == utc.wYear || ToLocalForYear(zone, local.wYear, utc, local))
                return true;
        }
    }
    return SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) != FALSE;
}

} // namespace

uint64_t PlatformNowNanoseconds() {
    return (FileTimeNow() - kFileTimeAt1970) * 100u;
}

void PlatformNowMilliseconds(int64_t &sec, unsigned &ms) {
    int64_t ticks = static_cast<int64_t>(FileTimeNow() - kFileTimeAt1970);
    sec = ticks / 10000000;
    ms = static_cast<unsigned>((ticks % 10000000) / 10000);
}

int64_t PlatformNowSeconds() {
    return static_cast<int64_t>(FileTimeNow() - kFileTimeAt1970) / 10000000;
}

bool PlatformUtcToLocal(int64_t utcSec, CalendarFields &local) {
    // FILETIME cannot hold times before 1601.
    if (utcSec < -11644473600LL || utcSec > 900000000000LL) return false;
    uint64_t ticks = static_cast<uint64_t>(utcSec + 11644473600LL) * 10000000u;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    SYSTEMTIME utc, loc;
    if (!FileTimeToSystemTime(&ft, &utc)) return false;
    // FileTimeToLocalFileTime would apply today's offset to every date.
    if (!UtcToLocalSystemTime(utc, loc)) return false;
    local.year = loc.wYear;
    local.month = loc.wMonth;
    local.day = loc.wDay;
    local.weekDay = loc.wDayOfWeek;
    local.hour = loc.wHour;
    local.minute = loc.wMinute;
    local.second = loc.wSecond;
    return true;
}

} // namespace Quorvel::detail
