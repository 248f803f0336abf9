// Numeric text readers with the same results on every platform.
#include "numtext.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace Quorvel::detail {

namespace {

// strtol leaves its end pointer unset for a base it does not take, so the caller's count of
// consumed bytes would be garbage: such a base reads nothing.
bool IsValidBase(int base) {
    return base == 0 || (base >= 2 && base <= 36);
}

} // namespace

int StrToInt32(const char *s, const char **end, int base) {
    if (!IsValidBase(base)) {
        *end = s;
        return 0;
    }
    char *e = nullptr;
    errno = 0;
    long long v = std::strtoll(s, &e, base);
    *end = e;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

unsigned StrToUint32(const char *s, const char **end, int base) {
    if (!IsValidBase(base)) {
        *end = s;
        return 0;
    }
    char *e = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &e, base);
    *end = e;
    if (e == s) return 0;
    if (errno == ERANGE) return UINT_MAX;
    // strtoul negates a '-' number in the result type; redo it in 32 bits after the range check.
    const char *p = s;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == '-') {
        unsigned long long mag = 0ULL - v;
        if (mag > UINT_MAX) return UINT_MAX;
        return 0u - static_cast<unsigned>(mag);
    }
    return v > UINT_MAX ? UINT_MAX : static_cast<unsigned>(v);
}

namespace {

bool IsCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Length of the word w (lower case) at the start of s, compared case-insensitively, or 0.
size_t MatchWord(const char *s, const char *w) {
    size_t i = 0;
    for (; w[i]; ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != w[i]) return 0;
    }
    return i;
}

} // namespace

double StrToDoubleC(const char *s, const char **end) {
    const char *p = s;
    while (IsCSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    double sign = negative ? -1.0 : 1.0;
    if (size_t n = MatchWord(p, "infinity") ? 8 : MatchWord(p, "inf")) {
        *end = p + n;
        return sign * HUGE_VAL;
    }
    if (size_t n = MatchWord(p, "nan")) {
        *end = p + n;
        return sign * NAN;
    }
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        *end = p + 1;
        return sign * 0.0;
    }
    if (!((*p >= '0' && *p <= '9') || (*p == '.' && p[1] >= '0' && p[1] <= '9'))) {
        *end = s;
        return 0.0;
    }
    const char *e = p;
    double v = StrToDecimalC(p, &e);
    if (e == p) {
        *end = s;
        return 0.0;
    }
    *end = e;
    return sign * v;
}

} // namespace Quorvel::detail
