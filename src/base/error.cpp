// The error record and its text form.
#include "qv_error.h"

#include <cstring>

#include "numtext.h"
#include "error_os.h"
#include "string_util.h"

namespace Quorvel {

cQV_Error::cQV_Error(const cQV_Error &o) : code(o.code), line(o.line), file(o.file), text(o.text) {}

cQV_Error &cQV_Error::operator=(const cQV_Error &o) {
    if (this != &o) {
        code = o.code;
        line = o.line;
        file = o.file;
        text = o.text;
    }
    return *this;
}

bool cQV_Error::Set(int c, const char *f, int l, const char *t) {
    code = c;
    line = l;
    file = f;
    text = t;
    return !c;
}

bool cQV_Error::Set(cQV_Error *err, int c, const char *f, int l, const char *t) {
    if (err) err->Set(c, f, l, t);
    return !c;
}

bool cQV_Error::SetFormat(int c, const char *f, int l, const char *fmt, ...) {
    code = c;
    line = l;
    file = f;
    va_list args;
    va_start(args, fmt);
    text.FormatV(fmt, args);
    va_end(args);
    return !c;
}

bool cQV_Error::SetFormat(cQV_Error *err, int c, const char *f, int l, const char *fmt, ...) {
    if (err) {
        err->code = c;
        err->line = l;
        err->file = f;
        va_list args;
        va_start(args, fmt);
        err->text.FormatV(fmt, args);
        va_end(args);
    }
    return !c;
}

void cQV_Error::Reset() {
    code = 0;
    line = 0;
    file = nullptr;
    text = nullptr;
}

cQV_String cQV_Error::ToString() const {
    cQV_String s;
    s.Format("%d:%d:%u:%s:%u:%s", code, line, file.Length(), static_cast<const char *>(file),
             text.Length(), static_cast<const char *>(text));
    return s;
}

namespace {

// Reads a decimal number at s + pos that must be followed by ':'; pos moves past the colon.
bool ReadField(const char *s, size_t &pos, int &value) {
    const char *end = s + pos;
    value = detail::StrToInt32(s + pos, &end, 10);
    if (*end != ':') return false;
    pos = static_cast<size_t>(end - s) + 1;
    return true;
}

// Reads "<n>:" then n bytes that must lie within the first len bytes of s.
bool ReadCounted(const char *s, size_t len, size_t &pos, cQV_String &out) {
    int n = 0;
    if (!ReadField(s, pos, n) || n < 0) return false;
    if (static_cast<size_t>(n) > len - pos) return false;
    if (!detail::AssignBytes(out, s + pos, static_cast<size_t>(n))) return false;
    pos += static_cast<size_t>(n);
    return true;
}

} // namespace

bool cQV_Error::FromString(const char *s) {
    if (!s) return false;
    size_t len = std::strlen(s);
    size_t pos = 0;
    int newCode = 0, newLine = 0;
    cQV_String newFile, newText;
    if (!ReadField(s, pos, newCode) || !ReadField(s, pos, newLine)) return false;
    if (!ReadCounted(s, len, pos, newFile)) return false;
    if (s[pos] != ':') return false;
    ++pos;
    if (!ReadCounted(s, len, pos, newText)) return false;
    // The texts move in without a copy, so the record is replaced whole or not at all.
    code = newCode;
    line = newLine;
    detail::tStringAccess::Swap(file, newFile);
    detail::tStringAccess::Swap(text, newText);
    return true;
}

int osGetSysError() {
    return detail::PlatformGetSysError();
}

cQV_String osGetSysErrorStr(int code) {
    cQV_String msg = detail::PlatformGetSysErrorMessage(code);
    if (msg.Length() == 0) return cQV_String();
    // Messages from the system may end in line breaks; the frame wants one line.
    unsigned n = msg.Length();
    while (n > 0 && (msg[n - 1] == '\r' || msg[n - 1] == '\n'))
        msg[--n] = '\0';
    cQV_String r;
    r.Format("GetLastError()=%d [%s]", code, static_cast<const char *>(msg));
    return r;
}

} // namespace Quorvel
