// Platform primitives of the log: opening its file and measuring a stream's file.
#pragma once

#include <cstdio>

namespace Quorvel::detail {

// Opens name for appending (created when missing) so that child processes do not inherit it.
// Null when it cannot be opened.
std::FILE *PlatformOpenLogFile(const char *name);

// Holds off the other processes' writers of the file behind stream while one record is written;
// false when the platform needs no lock there (its append mode already puts each write whole at
// the end) or the stream takes none. Only a true result is passed to PlatformUnlockLogFile.
bool PlatformLockLogFile(std::FILE *stream);
void PlatformUnlockLogFile(std::FILE *stream);

// The length of the regular file behind stream, or -1 (a pipe or a terminal).
long long PlatformStreamFileLength(std::FILE *stream);

// The stream's position, or -1 when it has none.
long long PlatformStreamPosition(std::FILE *stream);

} // namespace Quorvel::detail
