// Processes on Windows: CreateProcessA, OpenProcess and friends.
#include "process_os.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

namespace Quorvel::detail {

int PlatformNoProgramError() {
    return ERROR_FILE_NOT_FOUND;
}

int PlatformNoMemoryError() {
    return ERROR_NOT_ENOUGH_MEMORY;
}

unsigned PlatformCreateProcess(const char *commandLine, const char *desktop, int &sysError) {
    // CreateProcessA may write into the command line: hand it a copy.
    const size_t len = std::strlen(commandLine);
    std::unique_ptr<char[]> line(new (std::nothrow) char[len + 1]);
    if (!line) {
        sysError = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    std::memcpy(line.get(), commandLine, len + 1);

    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOW;
    if (desktop && *desktop) si.lpDesktop = const_cast<char *>(desktop);
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0, sizeof pi);
    if (!CreateProcessA(nullptr, line.get(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi)) {
        sysError = static_cast<int>(GetLastError());
        return 0;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return pi.dwProcessId;
}

bool PlatformIsProcessRunning(unsigned pid) {
    // Waiting with a zero time-out tells an ended process apart even when its exit code happens to
    // be STILL_ACTIVE (259).
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
    if (h) {
        const DWORD r = WaitForSingleObject(h, 0);
        CloseHandle(h);
        return r == WAIT_TIMEOUT;
    }
    // A process may grant the query right without the right to wait: then the exit code has to
    // tell.
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;
    h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h) return false;
    DWORD code = 0;
    const BOOL ok = GetExitCodeProcess(h, &code);
    CloseHandle(h);
    return ok && code == STILL_ACTIVE;
}

eKillResult PlatformKillProcess(unsigned pid, unsigned exitCode, int &sysError) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (!h) {
        sysError = static_cast<int>(GetLastError());
        return eKillResult::OpenFailed;
    }
    const BOOL ok = TerminateProcess(h, exitCode);
    sysError = static_cast<int>(GetLastError());
    CloseHandle(h);
    return ok ? eKillResult::Killed : eKillResult::KillFailed;
}

unsigned PlatformGetCurrentProcessId() {
    return GetCurrentProcessId();
}

bool PlatformGetCurrentProcessUser(cQV_String &user) {
    char small[2];
    DWORD size = sizeof small;
    if (GetUserNameA(small, &size)) {
        user = small;
        return true;
    }
    if (size < 2) return false;
    // The size includes the terminating NUL. A separate string keeps `user` intact when the buffer
    // cannot be had or the second call fails.
    cQV_String name;
    char *buf = name.GetBuffer(size);
    if (!buf) return false;
    if (!GetUserNameA(buf, &size)) return false;
    user = name;
    return true;
}

void PlatformSetSilentErrorMode() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

} // namespace Quorvel::detail
