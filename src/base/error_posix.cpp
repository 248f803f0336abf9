// errno and its message on POSIX systems.
#include "error_os.h"

#include <cerrno>
#include <cstring>

namespace Quorvel::detail {

int PlatformGetSysError() {
    return errno;
}

cQV_String PlatformGetSysErrorMessage(int code) {
#if defined(__GLIBC__)
    // strerrordesc_np gives null for numbers the C library has no message for, where strerror
    // would make up "Unknown error N"; its texts are static, so it is thread-safe.
    const char *msg = strerrordesc_np(code);
    return cQV_String(msg);
#else
    char buf[256];
    if (strerror_r(code, buf, sizeof buf) != 0) return cQV_String();
    if (std::strncmp(buf, "Unknown error", 13) == 0) return cQV_String();
    return cQV_String(buf);
#endif
}

} // namespace Quorvel::detail
