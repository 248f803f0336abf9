// Platform primitives of the log: opening its file and measuring a stream's file.
#pragma once

#include <cstdio>

namespace Quorvel::detail {

// Opens name for appending (created when missing) so that child processes do not inherit it.
// Null when it cannot be opened.
std::FILE *PlatformOpenLogFile(const char *name);

// The length of the regular file behind stream, or -1 (a pipe or a terminal).
long long PlatformStreamFileLength(std::FILE *stream);

// The stream's position, or -1 when it has none.
long long PlatformStreamPosition(std::FILE *stream);

} // namespace Quorvel::detail
