// Locale-independent strtod on Windows.
#include "numtext.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace Quorvel::detail {

namespace {
// Created once and never freed: it is read-only and needed until the process ends.
_locale_t CLocale() {
    static _locale_t loc = _create_locale(LC_ALL, "C");
    return loc;
}
} // namespace

double StrToDecimalC(const char *s, const char **end) {
    char *e = nullptr;
    double v = _strtod_l(s, &e, CLocale());
    *end = e;
    return v;
}

} // namespace Quorvel::detail
