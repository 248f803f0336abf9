// Read/write mutex built from one critical section (the guard) and one manual-reset event that
// is signalled whenever the mutex becomes free.
#include "qv_event.h"

#include "qv_thread.h"
#include "rwmutex.h"

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
        osEnterCriticalSection(m->guard);
        if (m->holds >= 0) {
            ++m->holds;
            osResetEvent(m->released);
            taken = true;
        } else if (m->owner == osGetCurrentThreadId()) {
            // The writer reading its own data: one more write level.
            --m->holds;
            taken = true;
        }
        osLeaveCriticalSection(m->guard);
        if (taken) return;
        osWaitForEvents(1, &m->released, detail::kRwMutexRecheckMs);
    }
}

void osAcquireMutexWrite(void *mutex) {
    if (!mutex) return;
    tRwMutex *m = static_cast<tRwMutex *>(mutex);
    const unsigned self = osGetCurrentThreadId();
    for (;;) {
        bool taken = false;
        osEnterCriticalSection(m->guard);
        if (m->holds == 0) {
            m->holds = -1;
            m->owner = self;
            osResetEvent(m->released);
            taken = true;
        } else if (m->holds < 0 && m->owner == self) {
            --m->holds;
            taken = true;
        }
        osLeaveCriticalSection(m->guard);
        if (taken) return;
        osWaitForEvents(1, &m->released, detail::kRwMutexRecheckMs);
    }
}

void osReleaseMutex(void *mutex) {
    if (!mutex) return;
    tRwMutex *m = static_cast<tRwMutex *>(mutex);
    osEnterCriticalSection(m->guard);
    if (m->holds > 0)
        --m->holds;
    else if (m->holds < 0)
        ++m->holds;
    if (m->holds == 0) osSetEvent(m->released);
    osLeaveCriticalSection(m->guard);
}

} // namespace Quorvel
