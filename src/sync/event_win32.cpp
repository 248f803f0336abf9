// Events on Windows: the system's manual-reset event objects.
#include "sync_os.h"

#include <windows.h>

namespace Quorvel::detail {

void *PlatformCreateEvent(bool signalled) {
    return CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
}

void PlatformDestroyEvent(void *event) {
    CloseHandle(event);
}

void PlatformSetEvent(void *event) {
    SetEvent(event);
}

void PlatformResetEvent(void *event) {
    ResetEvent(event);
}

int PlatformWaitForEvents(int count, void **events, unsigned timeout) {
    const DWORD rc = WaitForMultipleObjects(static_cast<DWORD>(count), events, FALSE, timeout);
    // WAIT_OBJECT_0 is 0, so a satisfied wait is the index itself; time-out, failure and
    // abandonment codes all lie at or above count.
    return rc < static_cast<DWORD>(count) ? static_cast<int>(rc) : -1;
}

} // namespace Quorvel::detail
