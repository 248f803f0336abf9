// Critical sections on Linux: a recursive lock on one atomic word, sleeping on a futex when
// taken. The owner and count make it recursive; only the uncontended paths' two atomic
// operations are paid on every enter and leave, which the read/write mutex does twice per hold.
#include "qv_event.h"

#include "sync_os.h"

#include <atomic>
#include <climits>
#include <linux/futex.h>
#include <new>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Quorvel {

namespace {

struct tCriticalSection {
    // 0 free, 1 held, 2 held and a thread may be sleeping on it.
    std::atomic<int> state;
    // pthread_self() of the holder, 0 while free. Only the holder itself can find its own
    // value here, so a relaxed read tells a thread whether it already holds the section.
    std::atomic<unsigned long> owner;
    unsigned depth; // entries of the holder; touched only by the holder
};

static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free,
              "the lock word must be a plain int for the futex calls");
static_assert(sizeof(pthread_t) <= sizeof(unsigned long), "a pthread_t must fit the owner");

void FutexWait(std::atomic<int> *word, int expected) {
    syscall(SYS_futex, reinterpret_cast<int *>(word), FUTEX_WAIT_PRIVATE, expected, nullptr,
            nullptr, 0);
}

void FutexWakeOne(std::atomic<int> *word) {
    syscall(SYS_futex, reinterpret_cast<int *>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

inline void Enter(tCriticalSection *cs) {
    const unsigned long self = static_cast<unsigned long>(pthread_self());
    if (cs->owner.load(std::memory_order_relaxed) == self) {
        ++cs->depth;
        return;
    }
    int state = 0;
    if (!cs->state.compare_exchange_strong(state, 1, std::memory_order_acquire,
                                           std::memory_order_relaxed)) {
        // Taken: mark the word as waited for and sleep until a leave hands it over. Whoever
        // takes it this way leaves 2 behind, so that its own leave wakes the next sleeper.
        if (state != 2) state = cs->state.exchange(2, std::memory_order_acquire);
        while (state != 0) {
            FutexWait(&cs->state, 2);
            state = cs->state.exchange(2, std::memory_order_acquire);
        }
    }
    cs->owner.store(self, std::memory_order_relaxed);
    cs->depth = 1;
}

inline void Leave(tCriticalSection *cs) {
    if (--cs->depth != 0) return;
    cs->owner.store(0, std::memory_order_relaxed);
    if (cs->state.exchange(0, std::memory_order_release) == 2) FutexWakeOne(&cs->state);
}

} // namespace

namespace detail {

const std::size_t kCriticalSectionSize = sizeof(tCriticalSection);

void PlatformInitCriticalSection(void *section) {
    tCriticalSection *cs = new (section) tCriticalSection;
    cs->state.store(0, std::memory_order_relaxed);
    cs->owner.store(0, std::memory_order_relaxed);
    cs->depth = 0;
}

void PlatformDeleteCriticalSection(void *section) {
    static_cast<tCriticalSection *>(section)->~tCriticalSection();
}

void PlatformEnterCriticalSection(void *section) {
    Enter(static_cast<tCriticalSection *>(section));
}

void PlatformLeaveCriticalSection(void *section) {
    Leave(static_cast<tCriticalSection *>(section));
}

} // namespace detail
} // namespace Quorvel
