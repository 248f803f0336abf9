// Platform primitives of the log: opening its file and measuring a stream's file.
#pragma once

#include <cstdio>

namespace Quorvel {
namespace detail {

// Opens name for appending (created when missing) so that child processes do not inherit it.
// Null when it cannot be opened.
std::FILE *OsOpenLogFile(const char *name);

// The length of the file behind stream, or the stream's position when that is larger (output
// still buffered). Append streams report position 0 until their first write, so the position
// alone would let a log that is reopened on a long file grow past its limit. -1 when the stream
// has neither (a pipe or a terminal).
long long OsStreamSize(std::FILE *stream);

} // namespace detail
} // namespace Quorvel
