// Platform primitives of the file stream: opening a file that child processes do not inherit, and
// positions beyond the 31 bits of the standard seek and tell.
#pragma once

#include <cstddef>
#include <cstdio>

namespace Quorvel::detail {

// fopen(path, mode) with the file made non-inheritable (close-on-exec on POSIX, not inherited on
// Windows). Every other meaning of mode is kept. Null when fopen fails.
std::FILE *PlatformOpenStreamFile(const char *path, const char *mode);

// Seeks stream to position from the start of its file and clears its end-of-file indicator;
// false when the seek fails.
bool PlatformSeekStreamFile(std::FILE *stream, unsigned long long position);

// The stream's position, or -1 when it has none.
long long PlatformTellStreamFile(std::FILE *stream);

// mode with flag inserted after its first character (the access letter that fopen reads first),
// written to out (outSize bytes). False, and out untouched, when mode is empty, already holds
// flag, or the result does not fit: the caller then opens with mode as it is.
bool StreamModeWithFlag(const char *mode, char flag, char *out, std::size_t outSize);

} // namespace Quorvel::detail
