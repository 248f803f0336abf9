// Critical sections: the library allocates and owns the platform's recursive lock object.
// Entering and leaving are in the platform files, one call away from the system's lock.
#include "qv_event.h"

#include "qv_error.h"
#include "sync_os.h"

#include <new>

namespace Quorvel {

bool osCreateCriticalSection(cQV_Error *err, void *&section) {
    void *created = ::operator new(detail::kCriticalSectionSize, std::nothrow);
    if (!created) {
        return cQV_Error::SetFormat(err, 7, "osmutex", __LINE__,
                                    "Failed to allocate memory. Requested size:%d",
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

} // namespace Quorvel
