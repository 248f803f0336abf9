// Read/write mutex: one atomic word holds the holds and the writer, one critical section (the
// guard) and one manual-reset event serve the threads that must wait. The steps themselves are in
// rwmutex.h; here they run on the record's atomics and the platform's objects.
#include "qv_event.h"

#include "qv_thread.h"
#include "rwmutex.h"
#include "sync_os.h"

#include <new>

namespace Quorvel {

using detail::tRwMutex;

namespace {

struct tRwMutexSystemOps {
    std::uint64_t LoadWord(tRwMutex *m) { return m->word.load(); }
    bool CasWord(tRwMutex *m, std::uint64_t &expected, std::uint64_t desired) {
        return m->word.compare_exchange_weak(expected, desired);
    }
    void AddWaiter(tRwMutex *m) { ++m->waiters; }
    void RemoveWaiter(tRwMutex *m) { --m->waiters; }
    std::uint32_t Waiters(tRwMutex *m) { return m->waiters; }
    void Enter(tRwMutex *m) { detail::PlatformEnterCriticalSection(m->guard); }
    void Leave(tRwMutex *m) { detail::PlatformLeaveCriticalSection(m->guard); }
    void Reset(tRwMutex *m) { detail::PlatformResetEvent(m->released); }
    void Set(tRwMutex *m) { detail::PlatformSetEvent(m->released); }
    void Wait(tRwMutex *m) {
        detail::PlatformWaitForEvents(1, &m->released, detail::kRwMutexRecheckMs);
    }
    unsigned Self() { return osGetCurrentThreadId(); }
};

using tSteps = detail::tRwMutexSteps<tRwMutexSystemOps>;

} // namespace

bool osCreateMutex(cQV_Error *err, void *&mutex) {
    tRwMutex *m = new (std::nothrow) tRwMutex;
    if (!m) return false;
    m->word.store(0);
    m->waiters = 0;
    m->guard = nullptr;
    if (!osCreateCriticalSection(err, m->guard)) {
        delete m;
        return false;
    }
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
    tRwMutexSystemOps ops;
    if (mutex) tSteps::Acquire<false>(ops, static_cast<tRwMutex *>(mutex));
}

void osAcquireMutexWrite(void *mutex) {
    tRwMutexSystemOps ops;
    if (mutex) tSteps::Acquire<true>(ops, static_cast<tRwMutex *>(mutex));
}

void osReleaseMutex(void *mutex) {
    tRwMutexSystemOps ops;
    if (mutex) tSteps::Release(ops, static_cast<tRwMutex *>(mutex));
}

} // namespace Quorvel
