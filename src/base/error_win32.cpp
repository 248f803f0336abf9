// GetLastError and FormatMessageA on Windows.
#include "error_os.h"

#include <windows.h>

namespace Quorvel::detail {

int PlatformGetSysError() {
    return static_cast<int>(GetLastError());
}

cQV_String PlatformGetSysErrorMessage(int code) {
    char *msg = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&msg), 0, nullptr);
    if (n == 0 || !msg) return cQV_String();
    cQV_String r(msg);
    LocalFree(msg);
    return r;
}

} // namespace Quorvel::detail
