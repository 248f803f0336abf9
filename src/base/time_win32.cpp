// Clock and local-time primitives on Windows.
#include "time_os.h"

#include <windows.h>

namespace Quorvel::detail {

namespace {

// FILETIME counts 100-ns intervals since 1601-01-01 00:00:00 UTC; this is its value at
// 1970-01-01 00:00:00 UTC.
constexpr uint64_t kFileTimeAt1970 = 116444736000000000ULL;

uint64_t FileTimeNow() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
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
    // SystemTimeToTzSpecificLocalTime applies the daylight saving rules of the year converted;
    // FileTimeToLocalFileTime would apply today's offset to every date.
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &loc)) return false;
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
