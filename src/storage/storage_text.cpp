// Decimal text of the streams' numbers.
#include "storage_text.h"

namespace Quorvel::detail {

namespace {

// "00" to "99": two digits per division.
const char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536"
    "37383940414243444546474849505152535455565758596061626364656667686970"
    "7172737475767778798081828384858687888990919293949596979899";

} // namespace

char *DecimalTextUlong(unsigned value, char *end) {
    char *p = end;
    while (value >= 100) {
        const unsigned pair = (value % 100) * 2;
        value /= 100;
        *--p = kDigitPairs[pair + 1];
        *--p = kDigitPairs[pair];
    }
    if (value >= 10) {
        *--p = kDigitPairs[value * 2 + 1];
        *--p = kDigitPairs[value * 2];
    } else {
        *--p = static_cast<char>('0' + value);
    }
    return p;
}

char *DecimalTextLong(int value, char *end) {
    // The magnitude is taken in unsigned arithmetic so that -2147483648 has one.
    const unsigned magnitude =
        value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    char *p = DecimalTextUlong(magnitude, end);
    if (value < 0) *--p = '-';
    return p;
}

} // namespace Quorvel::detail
