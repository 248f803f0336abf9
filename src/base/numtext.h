// Numeric text readers shared by the foundation types.
#pragma once

namespace Quorvel::detail {

// strtol/strtoul with 32-bit results on every platform: out-of-range values saturate as they do
// where long is 32 bits, so a text reads the same on LP64 and LLP64 systems. *end receives the
// first byte not consumed (s itself when nothing was parsed).
int StrToInt32(const char *s, const char **end, int base);
unsigned StrToUint32(const char *s, const char **end, int base);

// strtod in the "C" locale: '.' is the decimal point whatever the process locale says. Reads
// leading white space, a sign, then a decimal number or "inf", "infinity", "nan" (any case). Hex
// numbers are not read ("0x10" reads as 0), so that every platform reads the same text.
double StrToDoubleC(const char *s, const char **end);

// The platform's strtod in the "C" locale, given a text that starts with a decimal number.
double StrToDecimalC(const char *s, const char **end);

} // namespace Quorvel::detail
