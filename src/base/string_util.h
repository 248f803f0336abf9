// String helpers shared by the library's own code.
#pragma once

#include <cstddef>

#include "qv_string.h"

namespace Quorvel::detail {

struct tStringAccess {
    // Exchanges the two strings' buffers: no allocation, so it cannot fail.
    static void Swap(cQV_String &a, cQV_String &b) {
        char *t = a._buf;
        a._buf = b._buf;
        b._buf = t;
    }
    // Room for n characters as GetBuffer makes it, but null when it cannot be had: GetBuffer then
    // hands back the old, shorter buffer, which a caller writing n characters would overrun.
    static char *Room(cQV_String &s, unsigned n) {
        const bool roomy = s.Length() >= n;
        char *const old = s._buf;
        char *buf = s.GetBuffer(n);
        return buf && (roomy || buf != old) ? buf : nullptr;
    }
};

// s becomes the n bytes at p (which must not lie inside s) with one allocation; n == 0 gives the
// empty string. False, with s left empty, when the memory cannot be had.
bool AssignBytes(cQV_String &s, const char *p, std::size_t n);

} // namespace Quorvel::detail
