// Threads on Windows: CreateThread and the system's thread priorities.
#include "qv_thread.h"

#include "sync_os.h"

#include <windows.h>

namespace Quorvel {

namespace {

DWORD WINAPI ThreadEntry(LPVOID record) {
    return detail::RunThreadStart(record);
}

} // namespace

namespace detail {

bool PlatformStartThread(void *record, void *&handle) {
    // A stack size request of 1 byte is rounded up to the system's default.
    HANDLE thread = CreateThread(nullptr, 1, &ThreadEntry, record, 0, nullptr);
    if (!thread) return false;
    handle = thread;
    return true;
}

void PlatformJoinThread(void *handle) {
    // Waiting for oneself would never end; a thread closing its own handle only releases it.
    if (GetThreadId(handle) != GetCurrentThreadId()) WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
}

void PlatformSetPriority(int priority) {
    SetThreadPriority(GetCurrentThread(), priority);
}

} // namespace detail

unsigned osGetCurrentThreadId() {
    return GetCurrentThreadId();
}

int osGetPriority() {
    return GetThreadPriority(GetCurrentThread());
}

void osSleep(unsigned milliseconds) {
    Sleep(milliseconds);
}

} // namespace Quorvel
