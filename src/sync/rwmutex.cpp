// Read/write mutex: one atomic word holds the holds and the writer, one critical section (the
// guard) and one manual-reset event serve the threads that must wait.
//
// A hold that can be granted at once is one compare-and-swap on the word; so is a release that
// leaves no waiter to wake. A thread that cannot take its hold announces itself in `waiters`, then
// under the guard tries once more and, failing, resets the event before it waits. A release that
// frees the mutex while a waiter is announced sets the event under the guard. The announcement and
// the release are ordered (sequentially consistent), so either the release sees the waiter and
// sets the event after the waiter's reset, or the waiter's try sees the mutex free: no wake-up is
// lost. Waiters still look again every kRwMutexRecheckMs, woken or not.
#include "qv_event.h"

#include "qv_thread.h"
#include "rwmutex.h"
#include "sync_os.h"

#include <new>

namespace Quorvel {

using detail::RwMutexHolds;
using detail::RwMutexOwner;
using detail::RwMutexWord;
using detail::tRwMutex;

namespace {

// The word after a read hold by the calling thread, or false when it must wait. Readers are
// admitted whenever no writer holds the mutex, even while writers wait; the writer's own read is
// one more write level.
bool NextRead(std::uint64_t word, std::uint64_t &next) {
    const std::int32_t holds = RwMutexHolds(word);
    if (holds >= 0) {
        next = RwMutexWord(RwMutexOwner(word), holds + 1);
        return true;
    }
    if (RwMutexOwner(word) == osGetCurrentThreadId()) {
        next = RwMutexWord(RwMutexOwner(word), holds - 1);
        return true;
    }
    return false;
}

// The word after a write hold by the calling thread, or false when it must wait. A thread that
// holds the mutex for reading waits for itself, as it would for any reader.
bool NextWrite(std::uint64_t word, std::uint64_t &next) {
    const std::int32_t holds = RwMutexHolds(word);
    if (holds == 0) {
        next = RwMutexWord(osGetCurrentThreadId(), -1);
        return true;
    }
    if (holds < 0 && RwMutexOwner(word) == osGetCurrentThreadId()) {
        next = RwMutexWord(RwMutexOwner(word), holds - 1);
        return true;
    }
    return false;
}

template <typename Next> bool TryTake(tRwMutex *m, Next next) {
    std::uint64_t word = m->word.load();
    std::uint64_t wanted;
    while (next(word, wanted))
        if (m->word.compare_exchange_weak(word, wanted)) return true;
    return false;
}

template <typename Next> void Acquire(tRwMutex *m, Next next) {
    if (TryTake(m, next)) return;
    m->waiters.fetch_add(1);
    for (;;) {
        detail::PlatformEnterCriticalSection(m->guard);
        const bool taken = TryTake(m, next);
        if (!taken) detail::PlatformResetEvent(m->released);
        detail::PlatformLeaveCriticalSection(m->guard);
        if (taken) break;
        detail::PlatformWaitForEvents(1, &m->released, detail::kRwMutexRecheckMs);
    }
    m->waiters.fetch_sub(1);
}

} // namespace

bool osCreateMutex(cQV_Error *err, void *&mutex) {
    tRwMutex *m = new (std::nothrow) tRwMutex;
    if (!m) return false;
    m->word.store(0);
    m->waiters.store(0);
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
    if (mutex) Acquire(static_cast<tRwMutex *>(mutex), NextRead);
}

void osAcquireMutexWrite(void *mutex) {
    if (mutex) Acquire(static_cast<tRwMutex *>(mutex), NextWrite);
}

// Gives back one hold, from whichever thread: a read hold may be released by any thread. Releasing
// a free mutex changes nothing.
void osReleaseMutex(void *mutex) {
    if (!mutex) return;
    tRwMutex *m = static_cast<tRwMutex *>(mutex);
    std::uint64_t word = m->word.load();
    std::int32_t holds;
    for (;;) {
        holds = RwMutexHolds(word);
        if (holds == 0) break;
        const std::uint64_t next =
            RwMutexWord(RwMutexOwner(word), holds > 0 ? holds - 1 : holds + 1);
        if (m->word.compare_exchange_weak(word, next)) {
            holds = RwMutexHolds(next);
            break;
        }
    }
    if (holds == 0 && m->waiters.load() != 0) {
        detail::PlatformEnterCriticalSection(m->guard);
        detail::PlatformSetEvent(m->released);
        detail::PlatformLeaveCriticalSection(m->guard);
    }
}

} // namespace Quorvel
