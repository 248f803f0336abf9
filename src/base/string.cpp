// Byte strings and numeric text conversion.
#include "qv_string.h"

#include "string_util.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "numtext.h"

namespace Quorvel {

namespace {

const char kEmptyText[] = "";

// Copies n bytes of s into a new buffer of n + 1 bytes; null when n is 0 or allocation fails.
char *Duplicate(const char *s, size_t n) {
    if (n == 0) return nullptr;
    char *p = static_cast<char *>(::operator new(n + 1, std::nothrow));
    if (!p) return nullptr;
    std::memcpy(p, s, n);
    p[n] = '\0';
    return p;
}

inline unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

bool EqualNoCase(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (FoldAscii(static_cast<unsigned char>(a[i])) !=
            FoldAscii(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

cQV_String::cQV_String(const char *s) {
    if (s) _buf = Duplicate(s, std::strlen(s));
}

cQV_String::cQV_String(const cQV_String &o) {
    if (o._buf) _buf = Duplicate(o._buf, std::strlen(o._buf));
}

cQV_String::~cQV_String() {
    ::operator delete(_buf);
}

cQV_String &cQV_String::operator=(const char *s) {
    if (s == _buf) return *this;
    ::operator delete(_buf);
    _buf = s ? Duplicate(s, std::strlen(s)) : nullptr;
    return *this;
}

cQV_String &cQV_String::operator=(const cQV_String &o) {
    if (this != &o) *this = static_cast<const char *>(o);
    return *this;
}

bool cQV_String::operator==(const char *s) const {
    if (!s) return Length() == 0;
    return std::strcmp(*this, s) == 0;
}

bool cQV_String::operator==(const cQV_String &o) const {
    return *this == static_cast<const char *>(o);
}

cQV_String::operator const char *() const {
    return _buf ? _buf : kEmptyText;
}

char &cQV_String::operator[](int i) {
    return _buf[i];
}

cQV_String cQV_String::operator+(const char *s) const {
    cQV_String r(*this);
    r += s;
    return r;
}

cQV_String cQV_String::operator+(const cQV_String &o) const {
    return *this + static_cast<const char *>(o);
}

cQV_String &cQV_String::operator+=(const char *s) {
    if (!s) return *this;
    size_t own = Length();
    size_t add = std::strlen(s);
    if (own + add == 0) return *this;
    char *p = static_cast<char *>(::operator new(own + add + 1, std::nothrow));
    if (!p) return *this;
    // The new buffer is filled before the old one goes, so s may be this string's own text.
    if (own) std::memcpy(p, _buf, own);
    std::memcpy(p + own, s, add);
    p[own + add] = '\0';
    ::operator delete(_buf);
    _buf = p;
    return *this;
}

cQV_String &cQV_String::operator+=(const cQV_String &o) {
    return *this += static_cast<const char *>(o);
}

unsigned cQV_String::Length() const {
    return _buf ? static_cast<unsigned>(std::strlen(_buf)) : 0;
}

bool cQV_String::Cmp(const char *s) const {
    if (!_buf || !s) return false;
    return std::strcmp(_buf, s) == 0;
}

bool cQV_String::CmpNoCase(const char *s) const {
    if (!_buf || !s) return false;
    size_t n = std::strlen(_buf);
    if (std::strlen(s) != n) return false;
    return EqualNoCase(_buf, s, n);
}

bool cQV_String::CmpNoCase(const char *a, const char *b) {
    static const cQV_String empty;
    if (!a) a = empty;
    if (!b) b = empty;
    size_t n = std::strlen(a);
    return std::strlen(b) == n && EqualNoCase(a, b, n);
}

bool cQV_String::CmpPrefixNoCase(const char *s, int n) const {
    if (!_buf || !s) return false;
    if (n < 0) return true;
    size_t count = n == 0 ? std::strlen(_buf) : static_cast<size_t>(n);
    if (std::strlen(_buf) < count || std::strlen(s) < count) return false;
    return EqualNoCase(_buf, s, count);
}

bool cQV_String::CmpSub(const char *s, int n) {
    if (!_buf || !s) return false;
    size_t count = n == 0 ? std::strlen(s) : static_cast<size_t>(n);
    return std::strncmp(_buf, s, count) == 0;
}

int cQV_String::Compare(const char *a, const char *b) {
    // strcmp compares as unsigned char; only its sign is kept.
    int r = std::strcmp(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int cQV_String::Format(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = FormatV(fmt, args);
    va_end(args);
    return r;
}

int cQV_String::FormatV(const char *fmt, va_list args) {
    // Most texts fit a stack buffer: one formatting pass and one allocation. Longer ones take the
    // exact length that the first pass reports.
    char local[512];
    unsigned size = static_cast<unsigned>((std::strlen(fmt) + 1) * 120 / 100);
    va_list copy;
    va_copy(copy, args);
    int r = std::vsnprintf(local, sizeof local, fmt, copy);
    va_end(copy);
    if (r < 0) {
        // A formatting error (an unconvertible wide character, say), not a short buffer: no size
        // would help, so the result is the empty text.
        if (char *buf = GetBuffer(size + 1)) buf[0] = '\0';
        return 0;
    }
    unsigned len = static_cast<unsigned>(r);
    if (len >= UINT_MAX - 2) return 0;
    // GetBuffer answers a failed allocation with the old, shorter buffer: writing the text there
    // would run past it. Such a failure returns 0 and leaves the string as it was.
    char *buf = detail::tStringAccess::Room(*this, (len < size ? size : len + 1) + 1);
    if (!buf) return 0;
    if (len < sizeof local) {
        std::memcpy(buf, local, len + 1);
        return r;
    }
    va_copy(copy, args);
    r = std::vsnprintf(buf, static_cast<size_t>(len) + 1, fmt, copy);
    va_end(copy);
    if (r < 0 || static_cast<unsigned>(r) != len) {
        buf[0] = '\0';
        return 0;
    }
    return r;
}

char *cQV_String::GetBuffer(unsigned n) {
    if (n == 0 || Length() >= n) return _buf;
    char *p = static_cast<char *>(::operator new(static_cast<size_t>(n) + 1, std::nothrow));
    if (!p) return _buf;
    if (_buf) {
        std::strcpy(p, _buf);
        ::operator delete(_buf);
    } else {
        p[0] = '\0';
    }
    p[n] = '\0';
    _buf = p;
    return p;
}

char *cQV_String::DeattachBuffer() {
    char *p = _buf;
    _buf = nullptr;
    return p;
}

void cQV_String::MakeLower() {
    if (!_buf) return;
    for (char *p = _buf; *p; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p + 32);
}

void cQV_String::MakeUpper() {
    if (!_buf) return;
    for (char *p = _buf; *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 32);
}

int cQV_String::ToLong(int pos, int *len, int base) const {
    if (!_buf) {
        if (len) *len = 0;
        return 0;
    }
    return ToLong(_buf + pos, len, base);
}

int cQV_String::ToLong(const char *s, int *len, int base) {
    if (!s) {
        if (len) *len = 0;
        return 0;
    }
    const char *end = s;
    int v = detail::StrToInt32(s, &end, base);
    if (len) *len = static_cast<int>(end - s);
    return v;
}

unsigned cQV_String::ToUlong(const char *s, int *len, int base) {
    if (!s) {
        if (len) *len = 0;
        return 0;
    }
    const char *end = s;
    unsigned v = detail::StrToUint32(s, &end, base);
    if (len) *len = static_cast<int>(end - s);
    return v;
}

// ---------------------------------------------------------------------------------------------

namespace {

constexpr char kDigits64[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz#$";
constexpr signed char kNoDigit = -1;

// Indexed by any byte: NUL and the bytes above 127 are no digit, so one look-up per byte decides.
struct Digit64Table {
    signed char v[256];
    constexpr Digit64Table() : v() {
        for (int i = 0; i < 256; ++i)
            v[i] = kNoDigit;
        for (int i = 0; i < 64; ++i)
            v[static_cast<unsigned char>(kDigits64[i])] = static_cast<signed char>(i);
    }
};
constexpr Digit64Table kDigitValue;

} // namespace

int cQV_DataConv::DblToStr(double v, char *out) {
    // std::to_chars never consults the locale, so the decimal point is always '.'.
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 16);
    double back = 0;
    auto rb = std::from_chars(buf, r.ptr, back);
    if (rb.ec == std::errc::result_out_of_range) {
        // Next to the largest double the 16-digit text rounds up past it and would read back as
        // infinity; 17 digits always read back exactly.
        r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
    }
    size_t n = static_cast<size_t>(r.ptr - buf);
    std::memcpy(out, buf, n);
    out[n] = '\0';
    return static_cast<int>(n);
}

int cQV_DataConv::StrToDbl(const char *s, double &v) {
    const char *end = s;
    v = detail::StrToDoubleC(s, &end);
    if (end == s) v = 0;
    return static_cast<int>(end - s);
}

int cQV_DataConv::LongToStr64(int v, char *out) {
    // Unsigned negation keeps -2147483648 as 2147483648.
    const unsigned negative = v < 0 ? 1u : 0u;
    unsigned mag = negative ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    // One digit per 6-bit group from the highest non-zero group down; the lowest group is always
    // written. The digits are filled in from the last one.
    const int count = (32 - __builtin_clz(mag | 1u) + 5) / 6;
    out[0] = '-';
    char *last = out + negative + count - 1;
    for (int i = 0; i < count; ++i, mag >>= 6)
        last[-i] = kDigits64[mag & 63];
    return static_cast<int>(negative) + count;
}

int cQV_DataConv::Str64ToLong(const char *s, int &v) {
    if (!s) {
        v = 0;
        return 0;
    }
    int n = 0;
    bool negative = false;
    if (s[0] == '-') {
        negative = true;
        ++n;
    }
    unsigned value = 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s) + n;
    int digits = 0;
    for (; digits < 6; ++digits) {
        const signed char d = kDigitValue.v[p[digits]];
        if (d == kNoDigit) break;
        value = (value << 6) | static_cast<unsigned>(d);
    }
    if (negative) value = 0u - value;
    v = static_cast<int>(value);
    return n + digits;
}

namespace detail {

bool AssignBytes(cQV_String &s, const char *p, std::size_t n) {
    s = nullptr;
    if (n == 0) return true;
    if (n >= UINT_MAX) return false;
    char *buf = s.GetBuffer(static_cast<unsigned>(n));
    if (!buf) return false;
    std::memcpy(buf, p, n);
    buf[n] = '\0';
    return true;
}

} // namespace detail

} // namespace Quorvel
