// File stream primitives on POSIX systems.
#include <fcntl.h>
#include <sys/types.h>

#include "storage_os.h"

namespace Quorvel::detail {

std::FILE *PlatformOpenStreamFile(const char *path, const char *mode) {
    // "e" opens with O_CLOEXEC, atomically, so a child started by another thread at the same
    // moment cannot inherit the descriptor. The flag is inserted after the access letter, where
    // the C library reads it whatever follows (",ccs=" and the like).
    char withFlag[64];
    std::FILE *f = std::fopen(
        path, StreamModeWithFlag(mode, 'e', withFlag, sizeof withFlag) ? withFlag : mode);
    if (!f) return nullptr;
    // A mode the flag could not be put into still gives a close-on-exec descriptor.
    const int fd = fileno(f);
    const int flags = fcntl(fd, F_GETFD);
    if (flags != -1 && !(flags & FD_CLOEXEC)) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    return f;
}

bool PlatformSeekStreamFile(std::FILE *stream, unsigned long long position) {
    return fseeko(stream, static_cast<off_t>(position), SEEK_SET) == 0;
}

long long PlatformTellStreamFile(std::FILE *stream) {
    return ftello(stream);
}

} // namespace Quorvel::detail
