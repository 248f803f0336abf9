// Windows: what a handle value refers to, in terms that two processes can compare, so that a
// child can tell whether the handle it holds at a value is the very object its parent holds there
// (inherited) or an object of its own that happens to sit at the same value. Header-only, for the
// test programs and for the helper programs, which link nothing of the tests.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace qvtest {

// "" when no handle is open at h. Otherwise a file's volume and file index ("file:SERIAL:INDEX"),
// a socket's local address family and port ("socket:FAMILY:PORT"), or the kind of file for
// anything else ("kind:N", N from GetFileType). The socket calls are looked up at run time in the
// socket library the process has loaded (a process that has none holds no socket).
inline std::string HandleIdentity(HANDLE h) {
    DWORD flags = 0;
    if (!GetHandleInformation(h, &flags)) return "";
    char text[96];
    const DWORD kind = GetFileType(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (kind == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info)) {
        std::snprintf(text, sizeof text, "file:%08lx:%08lx%08lx",
                      static_cast<unsigned long>(info.dwVolumeSerialNumber),
                      static_cast<unsigned long>(info.nFileIndexHigh),
                      static_cast<unsigned long>(info.nFileIndexLow));
        return text;
    }
    if (HMODULE ws = GetModuleHandleA("ws2_32.dll")) {
        using GetSockNameFn = int(WINAPI *)(UINT_PTR, void *, int *);
        FARPROC p = GetProcAddress(ws, "getsockname");
        GetSockNameFn getName = nullptr;
        static_assert(sizeof getName == sizeof p, "function pointers differ in size");
        std::memcpy(&getName, &p, sizeof getName);
        // Large enough for any socket address; the family is its first 16 bits and the port (in
        // network order) the next 16, for both internet families.
        unsigned char addr[128] = {};
        int len = sizeof addr;
        if (getName && getName(reinterpret_cast<UINT_PTR>(h), addr, &len) == 0 && len >= 4) {
            std::snprintf(text, sizeof text, "socket:%u:%u", addr[0] | (addr[1] << 8),
                          (addr[2] << 8) | addr[3]);
            return text;
        }
    }
    std::snprintf(text, sizeof text, "kind:%lu", static_cast<unsigned long>(kind));
    return text;
}

} // namespace qvtest
#endif
