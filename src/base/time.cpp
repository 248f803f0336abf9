// Time values and clocks: arithmetic, calendar conversion and the time texts. The platform only
// reads the clock and converts a UTC second to local fields (time_os.h); the way back from local
// fields to UTC is solved here so that both platforms resolve it alike.
#include "qv_time.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>

#include "time_os.h"

namespace Quorvel {

using detail::CalendarFields;

namespace {

constexpr uint64_t kNsPerSec = 1000000000ULL;
constexpr uint64_t kNsPerMs = 1000000ULL;
constexpr int64_t kSecPerDay = 86400;

// Two's-complement narrowing without relying on implementation-defined conversions.
int32_t Wrap32(uint64_t v) {
    uint32_t low = static_cast<uint32_t>(v);
    return low <= 0x7FFFFFFFu ? static_cast<int32_t>(low)
                              : static_cast<int32_t>(static_cast<int64_t>(low) - 0x100000000LL);
}

// Days since 1970-01-01 of a proleptic Gregorian date (negative before it).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Calendar fields of a UTC second; used where the local time cannot be had.
void UtcFields(int64_t sec, CalendarFields &f) {
    int64_t days = sec / kSecPerDay;
    int64_t rest = sec % kSecPerDay;
    if (rest < 0) {
        rest += kSecPerDay;
        --days;
    }
    f.hour = static_cast<int>(rest / 3600);
    f.minute = static_cast<int>(rest / 60 % 60);
    f.second = static_cast<int>(rest % 60);
    f.weekDay = static_cast<int>(((days + 4) % 7 + 7) % 7); // 1970-01-01 was a Thursday

    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    f.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    f.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    f.year = static_cast<int>(yoe + era * 400 + (f.month <= 2));
}

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The fields read as if they were UTC: local time in seconds since 1970.
int64_t FieldSeconds(const CalendarFields &f) {
    return DaysFromCivil(f.year, f.month, f.day) * kSecPerDay + f.hour * 3600 + f.minute * 60 +
           f.second;
}

// Local time minus UTC at the UTC second t; 0 when the platform cannot convert it, so that the
// conversion goes on with UTC.
int64_t ZoneOffset(int64_t t) {
    CalendarFields f;
    if (!detail::PlatformUtcToLocal(t, f)) return 0;
    return FieldSeconds(f) - t;
}

// The UTC second at which the local clock shows `local` (seconds since 1970 read as UTC).
int64_t LocalToUtc(int64_t local) {
    // A zone change near `local` lies between the offsets in force a day before and a day after.
    // Each offset that maps back onto `local` gives an occurrence of that local time.
    const int64_t before = ZoneOffset(local - kSecPerDay);
    const int64_t after = ZoneOffset(local + kSecPerDay);
    bool found = false;
    int64_t best = 0;
    for (int64_t offset : {before, after}) {
        int64_t candidate = local - offset;
        if (ZoneOffset(candidate) == offset && (!found || candidate < best)) {
            best = candidate;
            found = true;
        }
    }
    // None: the local time was skipped when the clocks went forward. Read it with the offset of
    // the time before the change, which lands as far past the change as it was past the old time.
    return found ? best : local - before;
}

bool LocalFields(int64_t utcSec, CalendarFields &f) {
    return detail::PlatformUtcToLocal(utcSec, f);
}

// The tTimeb t times f (or divided by f) in whole units: floor seconds and milliseconds 0-999,
// clamped to the 32-bit second range. Only a NaN factor gives 0; an infinite result (a division
// by zero, an infinite factor) is clamped like any other that is too large.
tTimeb ScaledTime(const tTimeb &t, double f, bool divide) {
    tTimeb r;
    r.sec = 0;
    r.ms = 0;
    if (std::isnan(f)) return r;
    // 0 * infinity and 0 / 0 are NaN: a zero part scales to zero.
    const auto scale = [&](double v) {
        const double scaled = divide ? v / f : v * f;
        return std::isnan(scaled) ? 0.0 : scaled;
    };
    const double secPart = scale(static_cast<double>(t.sec));
    const double msPart = scale(static_cast<double>(t.ms));
    // The time's sign is the sign of sec unless sec is 0, since ms stays below one second.
    const double dominant = std::isinf(secPart) ? secPart : msPart;
    if (std::isinf(dominant)) {
        r.sec = dominant > 0 ? std::numeric_limits<int32_t>::max()
                             : std::numeric_limits<int32_t>::min();
        return r;
    }
    const double whole = std::trunc(secPart);
    const double total = std::trunc(msPart) + std::trunc((secPart - whole) * 1000.0);
    // Floor division keeps ms within 0-999 for negative totals too.
    const double carry = std::floor(total / 1000.0);
    const double sec = whole + carry;
    const double ms = total - carry * 1000.0;
    if (sec < static_cast<double>(std::numeric_limits<int32_t>::min())) {
        r.sec = std::numeric_limits<int32_t>::min();
    } else if (sec > static_cast<double>(std::numeric_limits<int32_t>::max())) {
        r.sec = std::numeric_limits<int32_t>::max();
    } else {
        r.sec = static_cast<int32_t>(sec);
        r.ms = ms >= 0.0 && ms < 1000.0 ? static_cast<uint16_t>(ms) : 0;
    }
    return r;
}

uint64_t ScaledCount(double v) {
    if (!(v > 0.0)) return 0; // negative, zero and NaN
    if (v >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(v);
}

cQV_String DateTimeText(const CalendarFields &f, unsigned ms) {
    cQV_String s;
    s.Format("%04d/%02d/%02d %02d:%02d:%02d.%03u", f.year, f.month, f.day, f.hour, f.minute,
             f.second, ms);
    return s;
}

} // namespace

// ---- cQV_SysTime

// The exported definition of the constant: callers that take its address or bind it to a reference
// reach the library's copy.
constexpr uint64_t cQV_SysTime::Infinity;

cQV_SysTime::cQV_SysTime(unsigned sec, unsigned ns) {
    Set(sec, ns);
}

cQV_SysTime::cQV_SysTime(uint64_t v) : nanoseconds(v) {}

void cQV_SysTime::Set(unsigned sec, unsigned ns) {
    nanoseconds = sec * kNsPerSec + ns;
}

cQV_SysTime::operator int64_t() const {
    return static_cast<int64_t>(nanoseconds);
}

cQV_SysTime::operator uint64_t() const {
    return nanoseconds;
}

bool cQV_SysTime::operator==(const cQV_SysTime &o) const {
    return nanoseconds == o.nanoseconds;
}
bool cQV_SysTime::operator<(const cQV_SysTime &o) const {
    return nanoseconds < o.nanoseconds;
}
bool cQV_SysTime::operator<=(const cQV_SysTime &o) const {
    return nanoseconds <= o.nanoseconds;
}
bool cQV_SysTime::operator>(const cQV_SysTime &o) const {
    return nanoseconds > o.nanoseconds;
}
bool cQV_SysTime::operator>=(const cQV_SysTime &o) const {
    return nanoseconds >= o.nanoseconds;
}

cQV_SysTime cQV_SysTime::operator+(const cQV_SysTime &o) const {
    return cQV_SysTime(nanoseconds + o.nanoseconds);
}

cQV_SysTime cQV_SysTime::operator-(const cQV_SysTime &o) const {
    return cQV_SysTime(nanoseconds - o.nanoseconds);
}

cQV_SysTime &cQV_SysTime::operator+=(const cQV_SysTime &o) {
    nanoseconds += o.nanoseconds;
    return *this;
}

cQV_SysTime &cQV_SysTime::operator-=(const cQV_SysTime &o) {
    nanoseconds -= o.nanoseconds;
    return *this;
}

cQV_SysTime cQV_SysTime::operator*(double f) const {
    return cQV_SysTime(ScaledCount(static_cast<double>(nanoseconds) * f));
}

cQV_SysTime cQV_SysTime::operator/(double f) const {
    return cQV_SysTime(ScaledCount(static_cast<double>(nanoseconds) / f));
}

void cQV_SysTime::AddMilliseconds(int ms) {
    nanoseconds += static_cast<uint64_t>(static_cast<int64_t>(ms)) * kNsPerMs;
}

unsigned cQV_SysTime::GetSeconds() const {
    return static_cast<unsigned>(nanoseconds / kNsPerSec);
}

unsigned cQV_SysTime::GetMilliseconds() const {
    return static_cast<unsigned>(nanoseconds / kNsPerMs);
}

unsigned cQV_SysTime::GetFracNanoseconds() const {
    return static_cast<unsigned>(nanoseconds % kNsPerSec);
}

bool cQV_SysTime::IsZero() const {
    return nanoseconds == 0;
}
bool cQV_SysTime::IsNotZero() const {
    return nanoseconds != 0;
}
bool cQV_SysTime::IsInfinity() const {
    return nanoseconds == Infinity;
}

void cQV_SysTime::GetSysTime() {
    nanoseconds = detail::PlatformNowNanoseconds();
}

unsigned cQV_SysTime::GetTiming() {
    return static_cast<unsigned>((detail::PlatformNowNanoseconds() - nanoseconds) / kNsPerMs);
}

cQV_String cQV_SysTime::FormatTime() {
    const unsigned s = GetSeconds();
    cQV_String text;
    text.Format("%d:%02d:%02d.%09u", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                static_cast<int>(s % 60), GetFracNanoseconds());
    return text;
}

cQV_String cQV_SysTime::FormatTimeShort() {
    const unsigned s = GetSeconds();
    cQV_String text;
    text.Format("%d:%02d:%02d", static_cast<int>(s / 3600 % 24), static_cast<int>(s / 60 % 60),
                static_cast<int>(s % 60));
    return text;
}

cQV_String cQV_SysTime::ToString() {
    cQV_DateTime dt;
    dt = *this;
    return dt.ToString();
}

// ---- tTimeb

tTimeb::tTimeb(long s, unsigned m) {
    sec = Wrap32(static_cast<uint64_t>(s) + m / 1000);
    ms = static_cast<uint16_t>(m % 1000);
}

tTimeb &tTimeb::operator=(long n) {
    long q = n / 1000;
    long r = n % 1000;
    if (r < 0) { // negative counts: floor seconds and a non-negative millisecond part
        r += 1000;
        --q;
    }
    sec = Wrap32(static_cast<uint64_t>(q));
    ms = static_cast<uint16_t>(r);
    return *this;
}

void tTimeb::GetTime() {
    int64_t s;
    unsigned m;
    detail::PlatformNowMilliseconds(s, m);
    sec = Wrap32(static_cast<uint64_t>(s));
    ms = static_cast<uint16_t>(m);
}

long tTimeb::GetMilliseconds() const {
    return Wrap32(static_cast<uint64_t>(static_cast<int64_t>(sec)) * 1000u + ms);
}

long tTimeb::GetTiming() {
    tTimeb now;
    now.GetTime();
    if (sec < now.sec) {
        const int64_t elapsed =
            (static_cast<int64_t>(now.sec) - sec) * 1000 + now.ms - static_cast<int64_t>(ms);
        // long is 32 bits on Windows: a span beyond 24 days saturates instead of turning negative.
        const int64_t most = std::numeric_limits<long>::max();
        return static_cast<long>(elapsed < most ? elapsed : most);
    }
    if (sec == now.sec && now.ms > ms) return now.ms - ms;
    return 0;
}

bool tTimeb::operator==(const tTimeb &o) const {
    return sec == o.sec && ms == o.ms;
}

bool tTimeb::operator<(const tTimeb &o) const {
    return sec < o.sec || (sec == o.sec && ms < o.ms);
}

bool tTimeb::operator>(const tTimeb &o) const {
    return sec > o.sec || (sec == o.sec && ms > o.ms);
}

tTimeb tTimeb::operator+(const tTimeb &o) const {
    const unsigned m = static_cast<unsigned>(ms) + o.ms;
    tTimeb r;
    r.sec = Wrap32(static_cast<uint64_t>(static_cast<int64_t>(sec)) +
                   static_cast<uint64_t>(static_cast<int64_t>(o.sec)) + m / 1000);
    r.ms = static_cast<uint16_t>(m % 1000);
    return r;
}

tTimeb tTimeb::operator-(const tTimeb &o) const {
    int m = static_cast<int>(ms % 1000) - static_cast<int>(o.ms % 1000);
    int64_t s = static_cast<int64_t>(sec) - o.sec + ms / 1000 - o.ms / 1000;
    if (m < 0) { // borrow one second
        m += 1000;
        --s;
    }
    tTimeb r;
    r.sec = Wrap32(static_cast<uint64_t>(s));
    r.ms = static_cast<uint16_t>(m);
    return r;
}

tTimeb tTimeb::operator+(long n) const {
    tTimeb r;
    r.sec = Wrap32(static_cast<uint64_t>(static_cast<int64_t>(sec)) + static_cast<uint64_t>(n));
    r.ms = ms;
    return r;
}

void tTimeb::AddMilliseconds(long n) {
    tTimeb delta;
    delta = n;
    *this = *this + delta;
}

tTimeb tTimeb::operator*(double f) const {
    return ScaledTime(*this, f, false);
}

tTimeb tTimeb::operator/(double f) const {
    return ScaledTime(*this, f, true);
}

cQV_String tTimeb::ToString() {
    CalendarFields f;
    if (!LocalFields(sec, f)) return cQV_String();
    return DateTimeText(f, ms);
}

// ---- cQV_DateTime

cQV_DateTime &cQV_DateTime::operator=(const cQV_SysTime &t) {
    const int64_t s = static_cast<int64_t>(t.nanoseconds / kNsPerSec);
    CalendarFields f;
    if (!LocalFields(s, f)) UtcFields(s, f);
    year = static_cast<uint16_t>(f.year);
    month = static_cast<uint8_t>(f.month);
    day = static_cast<uint8_t>(f.day);
    weekDay = static_cast<uint8_t>(f.weekDay);
    hour = static_cast<uint8_t>(f.hour);
    minute = static_cast<uint8_t>(f.minute);
    second = static_cast<uint8_t>(f.second);
    nsec = static_cast<uint32_t>(t.nanoseconds % kNsPerSec);
    return *this;
}

bool cQV_DateTime::ToSysTime(cQV_SysTime &t) const {
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    // Local times outside 1969-2555 cannot lie within the range of cQV_SysTime.
    if (year < 1969 || year > 2555) return false;
    CalendarFields f = {year, month, day, 0, hour, minute, second};
    const int64_t utc = LocalToUtc(FieldSeconds(f));
    if (utc < 0) return false;
    const uint64_t maxSec = std::numeric_limits<uint64_t>::max() / kNsPerSec;
    if (static_cast<uint64_t>(utc) > maxSec) return false;
    const uint64_t base = static_cast<uint64_t>(utc) * kNsPerSec;
    if (std::numeric_limits<uint64_t>::max() - base < nsec) return false;
    t.nanoseconds = base + nsec;
    return true;
}

cQV_String cQV_DateTime::ToString() {
    CalendarFields f = {year, month, day, weekDay, hour, minute, second};
    return DateTimeText(f, nsec / 1000000);
}

// ---- free functions

unsigned osGetSysTime() {
    return static_cast<unsigned>(detail::PlatformNowSeconds());
}

double osGetSysTimeDiff(unsigned t1, unsigned t2) {
    return static_cast<double>(t1) - static_cast<double>(t2);
}

cQV_String osGetLocalTimeStr() {
    static const char kDays[] = "SunMonTueWedThuFriSat";
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    CalendarFields f;
    if (!LocalFields(detail::PlatformNowSeconds(), f)) return cQV_String();
    if (f.year < 1000 || f.year > 9999) {
        cQV_String s;
        s.Format("%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", kDays + 3 * f.weekDay,
                 kMonths + 3 * (f.month - 1), f.day, f.hour, f.minute, f.second, f.year);
        return s;
    }
    // The fixed layout of the standard asctime text, "Www Mmm dd hh:mm:ss yyyy\n" with the day
    // right-aligned; log records rely on it. Written by hand: every log record asks for it.
    char text[26];
    auto two = [&text](int at, int v) {
        text[at] = static_cast<char>('0' + v / 10);
        text[at + 1] = static_cast<char>('0' + v % 10);
    };
    for (int k = 0; k < 3; ++k) {
        text[k] = kDays[3 * f.weekDay + k];
        text[4 + k] = kMonths[3 * (f.month - 1) + k];
    }
    text[3] = text[7] = text[10] = text[19] = ' ';
    two(8, f.day);
    if (f.day < 10) text[8] = ' ';
    two(11, f.hour);
    text[13] = ':';
    two(14, f.minute);
    text[16] = ':';
    two(17, f.second);
    two(20, f.year / 100);
    two(22, f.year % 100);
    text[24] = '\n';
    text[25] = '\0';
    return cQV_String(text);
}

cQV_String osGetLocalShortTimeStr() {
    const int64_t now = detail::PlatformNowSeconds();
    CalendarFields f;
    if (!LocalFields(now, f)) UtcFields(now, f);
    cQV_String s;
    s.Format("%02d:%02d:%02d", f.hour, f.minute, f.second);
    return s;
}

} // namespace Quorvel
