// Clock and local-time primitives on POSIX systems.
#include "time_os.h"

#include <ctime>

namespace Quorvel::detail {

uint64_t PlatformNowNanoseconds() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

void PlatformNowMilliseconds(int64_t &sec, unsigned &ms) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    sec = ts.tv_sec;
    ms = static_cast<unsigned>(ts.tv_nsec / 1000000);
}

int64_t PlatformNowSeconds() {
    // The same clock as the finer readings: time() may read a coarser clock that still shows
    // the previous second for a few milliseconds after clock_gettime has passed it.
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec);
}

bool PlatformUtcToLocal(int64_t utcSec, CalendarFields &local) {
    time_t t = static_cast<time_t>(utcSec);
    if (static_cast<int64_t>(t) != utcSec) return false;
    // localtime_r fills the caller's structure instead of a shared static one. It applies the
    // zone rules (TZ or /etc/localtime) of the date converted, daylight saving time included.
    tm fields;
    if (!localtime_r(&t, &fields)) return false;
    local.year = fields.tm_year + 1900;
    local.month = fields.tm_mon + 1;
    local.day = fields.tm_mday;
    local.weekDay = fields.tm_wday;
    local.hour = fields.tm_hour;
    local.minute = fields.tm_min;
    local.second = fields.tm_sec;
    return true;
}

} // namespace Quorvel::detail
