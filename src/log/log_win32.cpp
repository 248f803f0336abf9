// Log file primitives on Windows.
#include "log_os.h"

#include <sys/stat.h>

namespace Quorvel {
namespace detail {

std::FILE *OsOpenLogFile(const char *name) {
    // "N": the handle is not inheritable, so child processes do not keep the log open.
    return std::fopen(name, "a+N");
}

long long OsStreamSize(std::FILE *stream) {
    long long size = -1;
    struct _stati64 st;
    if (_fstati64(_fileno(stream), &st) == 0 && (st.st_mode & _S_IFREG)) size = st.st_size;
    const long long position = _ftelli64(stream);
    return position > size ? position : size;
}

} // namespace detail
} // namespace Quorvel
