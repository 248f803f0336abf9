// Read/write mutex built from one critical section (the guard) and one manual-reset event that
// is signalled whenever the mutex becomes free. Acquire and release use the platform primitives
// directly: the guard and the event of a created mutex are never null.
#include "qv_event.h"

#include "qv_thread.h"
#include "rwmutex.h"
#include "sync_os.h"

#include <new>

namespace Quorvel {

using detail::tRwMutex;

bool osCreateMutex(cQV_Error *err, void *&mutex) {
    tRwMutex *m = new (std::nothrow) tRwMutex;
    if (!m) return false;
    m->holds = 0;
    m->guard = nullptr;
    if (!osCreateCriticalSection(err, m->guard)) {
        delete m;
        return false;
    }
    m->owner = 0;
    m->released = nullptr;
    if (!osCreateEvent(err, false, m->released)) {
        osDestroyCriticalSection(m->guard);
        delete m;
        return false;
    }
    mutex = m;
    return true;
}

void osDestroyMutex(void *&mutex) {
    if (!mutex) return;
    tRwMutex *m = static_cast<tRwMutex *>(mutex);
    osDestroyCriticalSection(m->guard);
    osDestroyEvent(m->released);
    delete m;
    mutex = nullptr;
}

void osAcquireMutexRead(void *mutex) {
    if (!mutex) return;
    tRwMutex *m = static_cast<tRwMutex *>(mutex);
    for (;;) {
        bool taken = false;
        detail::PlatformEnterCriticalSection(m->guard);
        if (m->holds >= 0) {
            ++m->holds;
            detail::PlatformResetEvent(m->released);
            taken = true;
        } else if (m->owner == osGetCurrentThreadId()) {
            // The writer reading its own data: one more write level.
            --m->holds;
            taken = true;
        }
        detail::PlatformLeaveCriticalSection(m->guard);
        if (taken) return;
        detail::PlatformWaitForEvents(1, &m->released, detail::kRwMutexRecheckMs);
    }
}

void osAcquireMutexWrite(void *mutex) {
    if (!mutex) return;
    tRwMutex *m = static_cast<tRwMutex *>(mutex);
    const unsigned self = osGetCurrentThreadId();
    for (;;) {
        bool taken = false;
        detail::PlatformEnterCriticalSection(m->guard);
        if (m->holds == 0) {
            m->holds = -1;
            m->owner = self;
            detail::PlatformResetEvent(m->released);
            taken = true;
        } else if (m->holds < 0 && m->owner == self) {
            --m->holds;
            taken = true;
        }
        detail::PlatformLeaveCriticalSection(m->guard);
        if (taken) return;
        detail::PlatformWaitForEvents(1, &m->released, detail::kRwMutexRecheckMs);
    }
}

void osReleaseMutex(void *mutex) {
    if (!mutex) return;
    tRwMutex *m = static_cast<tRwMutex *>(mutex);
    detail::PlatformEnterCriticalSection(m->guard);
    if (m->holds > 0)
        --m->holds;
    else if (m->holds < 0)
        ++m->holds;
    if (m->holds == 0) detail::PlatformSetEvent(m->released);
    detail::PlatformLeaveCriticalSection(m->guard);
}

} // namespace Quorvel
