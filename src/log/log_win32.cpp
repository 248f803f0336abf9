// Log file primitives on Windows.
#include "log_os.h"

#include <sys/stat.h>

namespace Quorvel::detail {

std::FILE *PlatformOpenLogFile(const char *name) {
    // "N": the handle is not inheritable, so child processes do not keep the log open.
    return std::fopen(name, "a+N");
}

long long PlatformStreamFileLength(std::FILE *stream) {
    struct _stati64 st;
    if (_fstati64(_fileno(stream), &st) == 0 && (st.st_mode & _S_IFREG)) return st.st_size;
    return -1;
}

long long PlatformStreamPosition(std::FILE *stream) {
    return _ftelli64(stream);
}

} // namespace Quorvel::detail
