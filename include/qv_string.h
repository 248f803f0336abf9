// Byte strings and numeric text conversion.
#pragma once

#include <cstdarg>

#include "qv_os_export.h"

namespace Quorvel {

namespace detail {
struct tStringAccess; // the library's own access to the buffer (moving it without a copy)
} // namespace detail

// A byte string owning one heap buffer (global operator new/delete). The empty string holds no
// buffer and converts to a static empty text, never to null. No length is stored: Length() is the
// strlen of the buffer. Text is bytes; case operations fold ASCII letters only.
class QV_OS_API cQV_String {
public:
    cQV_String() = default;
    // Copies s; null or "" gives the empty string (no buffer).
    cQV_String(const char *s);
    cQV_String(const cQV_String &o);
    virtual ~cQV_String();

    // Assigning the string's own buffer pointer does nothing; s must not point inside the buffer
    // elsewhere than at its start.
    cQV_String &operator=(const char *s);
    cQV_String &operator=(const cQV_String &o);

    // A null s equals only the empty string; otherwise strcmp equality.
    bool operator==(const char *s) const;
    bool operator==(const cQV_String &o) const;

    // The buffer, or a static "" for the empty string. Never null.
    operator const char *() const;
    // Byte i of the buffer, unchecked: the string must not be empty, 0 <= i <= Length().
    char &operator[](int i);

    // A new string: this one followed by s (null appends nothing).
    cQV_String operator+(const char *s) const;
    cQV_String operator+(const cQV_String &o) const;
    // Appends s (null changes nothing). On allocation failure the string is left as it was.
    // Appending a string to itself doubles it.
    cQV_String &operator+=(const char *s);
    cQV_String &operator+=(const cQV_String &o);

    unsigned Length() const; // strlen of the buffer; 0 for the empty string

    // Case-sensitive equality; false whenever this string is empty or s is null.
    bool Cmp(const char *s) const;
    // ASCII case-insensitive equality; false if this string is empty, s is null or lengths differ.
    bool CmpNoCase(const char *s) const;
    // As above with null taken as "": two nulls are equal.
    static bool CmpNoCase(const char *a, const char *b);
    // n = 0: this whole string is a case-insensitive prefix of s. n > 0: the first n bytes of both
    // agree case-insensitively (false if either is shorter than n). n < 0 compares nothing (true).
    // False if this string is empty or s is null.
    bool CmpPrefixNoCase(const char *s, int n) const;
    // True when this string begins with the first n bytes of s (n = 0: all of s), case-sensitive;
    // false if this string is empty or s is null.
    bool CmpSub(const char *s, int n);
    // Byte-wise comparison, bytes unsigned; -1, 0 or 1. Neither argument may be null.
    static int Compare(const char *a, const char *b);

    // printf-style formatting replacing the text; returns the result's length. A formatting error
    // (not truncation) gives 0 and the empty text; a failed allocation gives 0 and leaves the text
    // as it was. Arguments must not point into this string.
    int Format(const char *fmt, ...) QV_OS_PRINTF(2, 3);
    int FormatV(const char *fmt, va_list args);

    // Room for at least n characters; keeps the text. On allocation failure returns the old buffer.
    char *GetBuffer(unsigned n);
    // Hands the buffer (null when empty) to the caller, who frees it with operator delete.
    char *DeattachBuffer();

    void MakeLower(); // folds A-Z to a-z; other bytes stay
    void MakeUpper(); // folds a-z to A-Z; other bytes stay

    // strtol from byte pos; *len (if given) receives the bytes consumed, 0 when nothing parsed.
    int ToLong(int pos, int *len, int base) const;
    static int ToLong(const char *s, int *len, int base);
    static unsigned ToUlong(const char *s, int *len, int base);

private:
    friend struct detail::tStringAccess;
    char *_buf = nullptr;
};

// Numeric text conversions; all static.
class QV_OS_API cQV_DataConv {
public:
    cQV_DataConv &operator=(const cQV_DataConv &) { return *this; } // no state to copy

    // v with 16 significant digits ("%.16g" form; 17 where 16 would not read back finite), with
    // '.' as the decimal point whatever the locale. NUL-terminated; returns the length. out must
    // hold 32 bytes.
    static int DblToStr(double v, char *out);
    // strtod with '.' as the decimal point whatever the locale; returns bytes consumed (0 and v = 0
    // when no number stands there).
    static int StrToDbl(const char *s, double &v);
    // v in base 64 over "0123456789A-Za-z#$"; at most 7 characters, no terminating NUL.
    static int LongToStr64(int v, char *out);
    // Reads at most 6 digits after an optional '-'; returns characters consumed including the '-'.
    static int Str64ToLong(const char *s, int &v);
};

} // namespace Quorvel
