// Decimal text of the streams' numbers, the same under every locale.
#pragma once

namespace Quorvel::detail {

// Room for the longest text: "-2147483648" or "4294967295".
constexpr unsigned kDecimalTextMax = 12;

// Writes the digits of value ending at end (no terminator); returns the first byte written.
char *DecimalTextUlong(unsigned value, char *end);
// As above with a leading '-' for a negative value.
char *DecimalTextLong(int value, char *end);

// Saturating accumulation of one digit: values above limit stay at limit + 1, so that a caller
// reading any count of digits learns "too large" without overflow.
inline unsigned long long AddDigitSaturated(unsigned long long value, unsigned digit,
                                            unsigned long long limit) {
    value = value * 10 + digit;
    return value > limit ? limit + 1 : value;
}

// The white space the file stream skips before a number: the "C" locale's set, whatever the
// process locale says.
inline bool IsNumberSpace(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

inline bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}

} // namespace Quorvel::detail
