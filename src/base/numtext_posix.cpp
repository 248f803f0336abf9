// Locale-independent strtod on POSIX systems.
#include "numtext.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace Quorvel::detail {

namespace {
// Created once and never freed: it is read-only and needed until the process ends.
locale_t CLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}
} // namespace

double StrToDecimalC(const char *s, const char **end) {
    char *e = nullptr;
    double v = strtod_l(s, &e, CLocale());
    *end = e;
    return v;
}

} // namespace Quorvel::detail
