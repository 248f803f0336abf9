// Decimal text of the streams' numbers.
#include "storage_text.h"

namespace Quorvel::detail {

char *DecimalTextUlong(unsigned value, char *end) {
    char *p = end;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
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
