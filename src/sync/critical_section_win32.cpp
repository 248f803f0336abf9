// Critical sections on Windows: the system's CRITICAL_SECTION, recursive by nature.
#include "qv_event.h"

#include "sync_os.h"

#include <windows.h>

namespace Quorvel::detail {

const std::size_t kCriticalSectionSize = sizeof(CRITICAL_SECTION);

void PlatformInitCriticalSection(void *section) {
    InitializeCriticalSection(static_cast<CRITICAL_SECTION *>(section));
}

void PlatformDeleteCriticalSection(void *section) {
    DeleteCriticalSection(static_cast<CRITICAL_SECTION *>(section));
}

void PlatformEnterCriticalSection(void *section) {
    EnterCriticalSection(static_cast<CRITICAL_SECTION *>(section));
}

void PlatformLeaveCriticalSection(void *section) {
    LeaveCriticalSection(static_cast<CRITICAL_SECTION *>(section));
}

} // namespace Quorvel::detail
