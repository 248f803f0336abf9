// Log file primitives on POSIX systems.
#include "log_os.h"

#include <sys/stat.h>

namespace Quorvel::detail {

std::FILE *PlatformOpenLogFile(const char *name) {
    // "e": O_CLOEXEC, set atomically with the open so that a child started by another thread
    // at the same moment cannot inherit the descriptor either.
    return std::fopen(name, "a+e");
}

// O_APPEND makes every write land whole at the end: no lock between processes.
bool PlatformLockLogFile(std::FILE *) {
    return false;
}

void PlatformUnlockLogFile(std::FILE *) {}

long long PlatformStreamFileLength(std::FILE *stream) {
    struct stat st;
    if (fstat(fileno(stream), &st) == 0 && S_ISREG(st.st_mode)) return st.st_size;
    return -1;
}

long long PlatformStreamPosition(std::FILE *stream) {
    return ftello(stream);
}

} // namespace Quorvel::detail
