// Feeds arbitrary text to the base-64 and decimal number readers and checks what they promise:
// a count of consumed bytes within the text and within the digit limit, 0 with a value of 0 when
// nothing is read, and that the writers' texts read back to the values they were made from (the
// decimal one to its sixteen significant digits).
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
    if (consumed == 0) Check(d == 0.0, "StrToDbl read nothing but left a value");
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
