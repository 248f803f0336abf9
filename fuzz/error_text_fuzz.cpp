// Feeds arbitrary text to the error record's reader and checks its promises: a failed read leaves
// the record exactly as it was; a successful one takes file and message from within the text, and
// the record's own text form reads back to an equal record.
#include "qv_error.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace Quorvel;

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "error_text_fuzz: %s\n", what);
        std::abort();
    }
}

bool Same(const cQV_Error &a, const cQV_Error &b) {
    return a.code == b.code && a.line == b.line && a.file == b.file && a.text == b.text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const char *s = input.c_str(); // the reader sees the text up to its first NUL
    cQV_Error record;
    record.Set(6, "sentinel", 99, "unchanged on failure");
    const cQV_Error before(record);
    if (!record.FromString(s)) {
        Check(Same(record, before), "a failed read changed the record");
        return 0;
    }
    const size_t len = std::strlen(s);
    Check(record.file.Length() <= len && record.text.Length() <= len,
          "a field is longer than the text it was read from");
    Check(std::strstr(s, record.file) != nullptr && std::strstr(s, record.text) != nullptr,
          "a field is not part of the text");
    cQV_Error again;
    Check(again.FromString(record.ToString()), "the record's own text form does not read");
    // A field holding a NUL byte would end early in the text form; the reader never makes one.
    Check(Same(again, record), "the text form does not read back to an equal record");
    return 0;
}
