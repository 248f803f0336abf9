// Numeric text readers with the same results on every platform.
#include "numtext.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace Quorvel::detail {

int StrToInt32(const char *s, const char **end, int base) {
    char *e = nullptr;
    errno = 0;
    long long v = std::strtoll(s, &e, base);
    *end = e;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

unsigned StrToUint32(const char *s, const char **end, int base) {
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

} // namespace Quorvel::detail
