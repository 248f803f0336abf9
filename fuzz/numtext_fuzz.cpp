// Feeds arbitrary text to the base-64 and decimal number readers and checks what they promise:
// the base-64 reader gives the count and value of a model of its digits; each reader stops where
// its number ends (the consumed text alone reads the same); nothing read gives 0; the decimal
// reader agrees with the C library's strtod wherever the text is no hexadecimal number and no
// "nan(...)"; and the writers' texts read back to the values they were made from (the decimal
// one to its sixteen significant digits).
#include "qv_string.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace Quorvel;

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "numtext_fuzz: %s\n", what);
        std::abort();
    }
}

const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz#$";

// The base-64 number at s: an optional '-' and at most six digits, in wrapping 32-bit arithmetic.
int Model64(const char *s, int &v) {
    const bool minus = s[0] == '-';
    unsigned value = 0;
    int digits = 0;
    for (const char *p = s + minus; digits < 6 && *p; ++p, ++digits) {
        const char *at = std::strchr(kAlphabet, *p);
        if (!at) break;
        value = (value << 6) | static_cast<unsigned>(at - kAlphabet);
    }
    v = static_cast<int>(minus ? 0u - value : value);
    return minus + digits;
}

bool SameDouble(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// True when strtod reads the text as the library means to: no hexadecimal number and no
// parenthesised NaN after the blanks and the sign.
bool LikeStrtod(const char *s) {
    while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
        ++s;
    if (*s == '+' || *s == '-') ++s;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return false;
    return !((s[0] | 32) == 'n' && (s[1] | 32) == 'a' && (s[2] | 32) == 'n' && s[3] == '(');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const char *s = input.c_str();
    const size_t len = std::strlen(s);

    int v = 12345;
    const int used = cQV_DataConv::Str64ToLong(s, v);
    Check(used >= 0 && static_cast<size_t>(used) <= len && used <= 7,
          "Str64ToLong consumed past the text or the digit limit");
    if (used == 0) Check(v == 0, "Str64ToLong read nothing but left a value");
    int model = 0;
    Check(used == Model64(s, model) && v == model, "Str64ToLong differs from the digit model");
    const std::string used64(s, static_cast<size_t>(used));
    int alone = 0;
    Check(cQV_DataConv::Str64ToLong(used64.c_str(), alone) == used && alone == v,
          "Str64ToLong's consumed text alone reads otherwise");
    char out64[8];
    const int written = cQV_DataConv::LongToStr64(v, out64);
    Check(written >= 1 && written <= 7, "LongToStr64 wrote a bad length");
    out64[written] = '\0';
    int back = 0;
    Check(cQV_DataConv::Str64ToLong(out64, back) == written && back == v,
          "LongToStr64 does not read back");

    double d = 1.5;
    const int consumed = cQV_DataConv::StrToDbl(s, d);
    Check(consumed >= 0 && static_cast<size_t>(consumed) <= len, "StrToDbl consumed past the text");
    if (consumed == 0) Check(SameDouble(d, 0.0), "StrToDbl read nothing but left a value");
    const std::string usedDbl(s, static_cast<size_t>(consumed));
    double dAlone = 1.5;
    Check(cQV_DataConv::StrToDbl(usedDbl.c_str(), dAlone) == consumed && SameDouble(dAlone, d),
          "StrToDbl's consumed text alone reads otherwise");
    if (LikeStrtod(s)) {
        char *end = nullptr;
        const double c = std::strtod(s, &end);
        Check(end - s == consumed && SameDouble(c, consumed ? d : 0.0),
              "StrToDbl differs from strtod");
    }
    char text[32];
    const int n = cQV_DataConv::DblToStr(d, text);
    Check(n > 0 && n < 32 && std::strlen(text) == static_cast<size_t>(n),
          "DblToStr wrote a bad length");
    double round = 0;
    Check(cQV_DataConv::StrToDbl(text, round) == n, "DblToStr's text is not read whole");
    // Sixteen significant digits keep the value to within one part in 10^15, not to the bit.
    if (std::isnan(d))
        Check(std::isnan(round), "a NaN does not read back");
    else if (std::isinf(d))
        Check(round == d, "an infinity does not read back");
    else
        Check(std::fabs(round - d) <= std::fabs(d) * 1e-15,
              "DblToStr's text reads back to another value");
    return 0;
}
