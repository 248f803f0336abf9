// Time values and clocks: nanosecond points in time, second/millisecond times, broken-down local
// calendar times, whole-second clock reading and the library's time texts.
#pragma once

#include <cstdint>
#include <type_traits>

#include "qv_os_export.h"
#include "qv_string.h"

namespace Quorvel {

// A point in time (nanoseconds since 1970-01-01 00:00:00 UTC) or a duration. Arithmetic wraps
// modulo 2^64 and comparisons are unsigned. The default constructor leaves the count unset.
class QV_OS_API cQV_SysTime {
    template <typename T> using IfInteger = std::enable_if_t<std::is_integral<T>::value>;
    template <typename T> static uint64_t _Count(T v) {
        return std::is_signed<T>::value ? static_cast<uint64_t>(static_cast<int64_t>(v))
                                        : static_cast<uint64_t>(v);
    }

public:
    uint64_t nanoseconds; // the count

    // An infinite time: the largest signed 64-bit value, not the largest unsigned one.
    static constexpr uint64_t Infinity = 0x7FFFFFFFFFFFFFFFULL;

    cQV_SysTime() = default;
    cQV_SysTime(unsigned sec, unsigned ns);     // sec * 10^9 + ns (ns may exceed one second)
    cQV_SysTime(uint64_t v);                    // the count v (a signed value by its bits)
    cQV_SysTime(const cQV_SysTime &) = default; // copy
    void Set(unsigned sec, unsigned ns);        // sec * 10^9 + ns

    cQV_SysTime &operator=(const cQV_SysTime &) = default; // copy

    operator int64_t() const;  // the count taken as signed
    operator uint64_t() const; // the count
    // The count as any other integer type (a signed one takes it as signed), so that long and long
    // long convert alike where only one of them is the 64-bit type the two above name.
    template <typename T, typename = IfInteger<T>> operator T() const {
        return static_cast<T>(nanoseconds);
    }

    // Comparisons of the counts as unsigned numbers.
    bool operator==(const cQV_SysTime &o) const;
    bool operator<(const cQV_SysTime &o) const;
    bool operator<=(const cQV_SysTime &o) const;
    bool operator>(const cQV_SysTime &o) const;
    bool operator>=(const cQV_SysTime &o) const;

    cQV_SysTime operator+(const cQV_SysTime &o) const; // wrapping sum
    cQV_SysTime operator-(const cQV_SysTime &o) const; // wrapping difference
    cQV_SysTime &operator+=(const cQV_SysTime &o);     // wrapping sum in place
    cQV_SysTime &operator-=(const cQV_SysTime &o);     // wrapping difference in place

    // Integer counts. A signed value is taken by the bits of its 64-bit form (-1 is the largest
    // count). Written for every integer type so that int, long and long long arguments mean the
    // same on every platform instead of being ambiguous between the 64-bit types.
    template <typename T, typename = IfInteger<T>> cQV_SysTime &operator=(T v) {
        nanoseconds = _Count(v);
        return *this;
    }
    template <typename T, typename = IfInteger<T>> bool operator==(T v) const {
        return nanoseconds == _Count(v);
    }
    template <typename T, typename = IfInteger<T>> bool operator<(T v) const {
        return nanoseconds < _Count(v);
    }
    template <typename T, typename = IfInteger<T>> bool operator<=(T v) const {
        return nanoseconds <= _Count(v);
    }
    template <typename T, typename = IfInteger<T>> bool operator>(T v) const {
        return nanoseconds > _Count(v);
    }
    template <typename T, typename = IfInteger<T>> bool operator>=(T v) const {
        return nanoseconds >= _Count(v);
    }
    template <typename T, typename = IfInteger<T>> cQV_SysTime operator+(T v) const {
        return cQV_SysTime(nanoseconds + _Count(v));
    }
    template <typename T, typename = IfInteger<T>> cQV_SysTime operator-(T v) const {
        return cQV_SysTime(nanoseconds - _Count(v));
    }
    template <typename T, typename = IfInteger<T>> cQV_SysTime &operator+=(T v) {
        nanoseconds += _Count(v);
        return *this;
    }
    template <typename T, typename = IfInteger<T>> cQV_SysTime &operator-=(T v) {
        nanoseconds -= _Count(v);
        return *this;
    }

    // The count as a double times / divided by f, truncated. A negative or NaN product gives 0,
    // one beyond the 64-bit range the largest count.
    cQV_SysTime operator*(double f) const;
    cQV_SysTime operator/(double f) const;

    void AddMilliseconds(int ms); // adds ms * 10^6; a negative ms subtracts

    unsigned GetSeconds() const;         // count / 10^9, low 32 bits
    unsigned GetMilliseconds() const;    // count / 10^6, low 32 bits (the whole count in ms)
    unsigned GetFracNanoseconds() const; // count mod 10^9
    bool IsZero() const;                 // count == 0
    bool IsNotZero() const;              // count != 0
    bool IsInfinity() const;             // count == Infinity exactly

    void GetSysTime();    // the current UTC time
    unsigned GetTiming(); // milliseconds from the stored time to now, low 32 bits

    cQV_String FormatTime();      // duration "%d:%02d:%02d.%09u": hours (unbounded), min, s, ns
    cQV_String FormatTimeShort(); // "%d:%02d:%02d": hours mod 24, minutes, seconds
    cQV_String ToString();        // local date and time, as cQV_DateTime::ToString
};

// Seconds (signed, 32-bit) and milliseconds (always 0-999); a negative time is held as floor
// seconds and a non-negative millisecond part (-1.5 s is sec -2, ms 500). The default constructor
// leaves the fields unset.
struct QV_OS_API tTimeb {
    int32_t sec; // whole seconds, floored for negative times
    uint16_t ms; // milliseconds, 0-999

    tTimeb() = default;
    tTimeb(long sec, unsigned ms);    // sec + ms / 1000 seconds, ms mod 1000 milliseconds
    tTimeb(const tTimeb &) = default; // copy
    tTimeb &operator=(const tTimeb &) = default; // copy
    tTimeb &operator=(long ms);                  // a millisecond count; negative counts are floored

    void GetTime();               // the current UTC time at millisecond resolution
    long GetMilliseconds() const; // sec * 1000 + ms, in 32-bit arithmetic
    long GetTiming();             // milliseconds from the stored time to now; never negative

    // Comparisons of the times: seconds first, then milliseconds.
    bool operator==(const tTimeb &o) const;
    bool operator<(const tTimeb &o) const;
    bool operator>(const tTimeb &o) const;

    tTimeb operator+(const tTimeb &o) const; // sum with carry
    tTimeb operator-(const tTimeb &o) const; // difference with borrow
    tTimeb operator+(long n) const;          // adds n whole seconds
    void AddMilliseconds(long n);            // adds n milliseconds (negative n subtracts)

    // Scaled time. Results whose seconds do not fit 32 bits are clamped to the nearest
    // representable second (with 0 ms); a NaN factor gives 0.
    tTimeb operator*(double f) const;
    tTimeb operator/(double f) const;

    // Local date and time "%04d/%02d/%02d %02d:%02d:%02d.%03d" (times before 1970 included);
    // empty when the text cannot be built.
    cQV_String ToString();
};

// A broken-down local calendar date and time. The default constructor leaves the fields unset.
class QV_OS_API cQV_DateTime {
public:
    uint16_t year;   // full year
    uint8_t month;   // 1-12
    uint8_t day;     // 1-31
    uint8_t weekDay; // 0 = Sunday .. 6 = Saturday; filled from a cQV_SysTime, ignored by ToSysTime
    uint8_t hour;    // 0-23
    uint8_t minute;  // 0-59
    uint8_t second;  // 0-59
    uint32_t nsec;   // 0-999999999

    cQV_DateTime() = default;
    cQV_DateTime(const cQV_DateTime &) = default;            // copy
    cQV_DateTime &operator=(const cQV_DateTime &) = default; // copy
    // The local time of t under the zone rules in force at that date (UTC if the local time
    // cannot be had).
    cQV_DateTime &operator=(const cQV_SysTime &t);

    // The point in time the local fields name. False, with t unchanged, when the fields do not
    // form a valid date and time (month 0 or 13, 31 April, 29 February of a common year, hour 24,
    // minute 60, second 60) or name a time before 1970-01-01 UTC or beyond the range of
    // cQV_SysTime. nsec is added as it stands. A local time skipped by a change to daylight saving
    // time is read with the offset in force before the change (02:30 becomes 03:30 summer time); a
    // local time that occurs twice names its first occurrence.
    bool ToSysTime(cQV_SysTime &t) const;

    // "%04d/%02d/%02d %02d:%02d:%02d.%03d" with the milliseconds of nsec (truncated).
    cQV_String ToString();
};

// The current time in whole seconds since 1970-01-01 00:00:00 UTC, low 32 bits.
QV_OS_API unsigned osGetSysTime();

// t1 - t2 in seconds, both taken as unsigned 32-bit times as osGetSysTime gives them.
QV_OS_API double osGetSysTimeDiff(unsigned t1, unsigned t2);

// The current local time as the standard asctime text, followed by a line feed (25 characters,
// for example "Sun Dec  6 22:54:02 2026\n"); empty when the local time cannot be obtained.
QV_OS_API cQV_String osGetLocalTimeStr();

// The current local time of day "%02d:%02d:%02d".
QV_OS_API cQV_String osGetLocalShortTimeStr();

} // namespace Quorvel
