// File stream primitives on Windows.
#include <io.h>
#include <windows.h>

#include "storage_os.h"

namespace Quorvel::detail {

std::FILE *PlatformOpenStreamFile(const char *path, const char *mode) {
    // "N": the C runtime opens the handle as not inheritable. The flag is inserted after the
    // access letter, where the runtime reads it whatever follows (",ccs=" and the like).
    char withFlag[64];
    std::FILE *f = std::fopen(
        path, StreamModeWithFlag(mode, 'N', withFlag, sizeof withFlag) ? withFlag : mode);
    if (!f) return nullptr;
    // A mode the flag could not be put into still gives a handle that is not inherited.
    const intptr_t handle = _get_osfhandle(_fileno(f));
    if (handle != -1)
        SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
    return f;
}

bool PlatformSeekStreamFile(std::FILE *stream, unsigned long long position) {
    if (_fseeki64(stream, static_cast<long long>(position), SEEK_SET) != 0) return false;
    // A successful seek clears the end-of-file indicator; the 64-bit seek of the runtime that
    // MinGW links does not always do so (a read that reached the end stays "at the end").
    std::clearerr(stream);
    return true;
}

long long PlatformTellStreamFile(std::FILE *stream) {
    return _ftelli64(stream);
}

} // namespace Quorvel::detail
