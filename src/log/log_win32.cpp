// Log file primitives on Windows.
#include "log_os.h"

#include <sys/stat.h>

namespace Quorvel {
namespace detail {

std::FILE *OsOpenLogFile(const char *name) {
    // "N": the handle is not inheritable, so child processes do not keep the log open.
    return std::fopen(name, "a+N");
}

long long OsFileLength(std::FILE *stream) {
    struct _stati64 st;
    if (_fstati64(_fileno(stream), &st) == 0 && (st.st_mode & _S_IFREG)) return st.st_size;
    return -1;
}

long long OsStreamPosition(std::FILE *stream) {
    return _ftelli64(stream);
}

} // namespace detail
} // namespace Quorvel
