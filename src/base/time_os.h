// Platform primitives behind the time values: clock reading and the conversion of a UTC second
// to local calendar fields. Everything else about time is computed in time.cpp.
#pragma once

#include <cstdint>

namespace Quorvel::detail {

// Calendar fields as plain integers (month 1-12, weekDay 0 = Sunday).
struct CalendarFields {
    int year;
    int month;
    int day;
    int weekDay;
    int hour;
    int minute;
    int second;
};

// The current UTC time in nanoseconds since 1970-01-01 00:00:00 UTC.
uint64_t PlatformNowNanoseconds();

// The current UTC time as whole seconds and milliseconds since 1970-01-01 00:00:00 UTC.
void PlatformNowMilliseconds(int64_t &sec, unsigned &ms);

// The current UTC time in whole seconds since 1970-01-01 00:00:00 UTC.
int64_t PlatformNowSeconds();

// The local calendar fields of the UTC second utcSec (seconds since 1970, negative before it)
// under the zone rules in force at that date. Safe to call from any thread. False when the
// platform cannot convert that time.
bool PlatformUtcToLocal(int64_t utcSec, CalendarFields &local);

} // namespace Quorvel::detail
