// Critical sections: the library allocates and owns the platform's recursive lock object.
#include "qv_event.h"

#include "error_codes.h"
#include "sync_os.h"

#include <new>

namespace Quorvel {

namespace {
const char kModule[] = "osmutex";
} // namespace

bool osCreateCriticalSection(cQV_Error *err, void *&section) {
    void *created = ::operator new(detail::kCriticalSectionSize, std::nothrow);
    if (!created) {
        return QV_FAIL(err, detail::kErrMemory, "Failed to allocate memory. Requested size:%d",
                       static_cast<int>(detail::kCriticalSectionSize));
    }
    detail::PlatformInitCriticalSection(created);
    section = created;
    return true;
}

void osDestroyCriticalSection(void *&section) {
    if (!section) return;
    detail::PlatformDeleteCriticalSection(section);
    ::operator delete(section);
    section = nullptr;
}

void osEnterCriticalSection(void *&section) {
    if (section) detail::PlatformEnterCriticalSection(section);
}

void osLeaveCriticalSection(void *&section) {
    if (section) detail::PlatformLeaveCriticalSection(section);
}

} // namespace Quorvel
