// Events on POSIX, built in user space: a signalled flag, a lock and a list of the threads
// waiting on the event. No file descriptor per event; setting or resetting an event that is
// already in that state is one atomic read, and setting an event nobody waits on takes no lock.
#include "sync_os.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <new>
#include <pthread.h>

namespace Quorvel::detail {

namespace {

// One waiting thread. Setters reach it through the wait nodes linked into the events' lists
// and wake it by setting woken under its lock.
struct tWaiter {
    pthread_mutex_t lock;
    pthread_cond_t wake;
    bool woken;
    int fired; // lowest index of an event whose set woke the waiter; count while none did
};

struct tWaitNode {
    tWaitNode *prev;
    tWaitNode *next;
    tWaiter *waiter;
    int index;                // position of the event in the waiter's array
    std::uint64_t generation; // the event's set count when the waiter linked in
};

struct tEvent {
    // Bit 0: signalled. The bits above count the sets (steps from non-signalled to signalled),
    // so that a setter wakes only the threads that were waiting before its own set, and not a
    // thread that came to wait after the event was reset again.
    std::atomic<std::uint64_t> state;
    // Number of linked wait nodes, readable without the lock. A setter changes state and then
    // reads waiters; a waiter counts itself in and then reads state (both sequentially
    // consistent), so at least one of them sees the other and no wake-up is lost.
    std::atomic<int> waiters;
    pthread_mutex_t lock; // guards the list
    tWaitNode *head;
};

const std::uint64_t kSignalled = 1;

bool IsSignalled(const tEvent *event) {
    return (event->state.load(std::memory_order_acquire) & kSignalled) != 0;
}

void Link(tEvent *event, tWaitNode *node) {
    node->prev = nullptr;
    node->next = event->head;
    if (event->head) event->head->prev = node;
    event->head = node;
}

void Unlink(tEvent *event, tWaitNode *node) {
    if (node->prev)
        node->prev->next = node->next;
    else
        event->head = node->next;
    if (node->next) node->next->prev = node->prev;
}

int FirstSignalled(int count, void **events) {
    for (int i = 0; i < count; ++i) {
        if (IsSignalled(static_cast<tEvent *>(events[i]))) return i;
    }
    return -1;
}

timespec Deadline(unsigned timeout) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::int64_t nsec = now.tv_nsec + static_cast<std::int64_t>(timeout % 1000) * 1000000;
    timespec deadline;
    deadline.tv_sec =
        now.tv_sec + static_cast<time_t>(timeout / 1000) + static_cast<time_t>(nsec / 1000000000);
    deadline.tv_nsec = static_cast<long>(nsec % 1000000000);
    return deadline;
}

const unsigned kInfinite = 4294967295u;

} // namespace

void *PlatformCreateEvent(bool signalled) {
    tEvent *event = new (std::nothrow) tEvent;
    if (!event) {
        errno = ENOMEM;
        return nullptr;
    }
    event->state.store(signalled ? kSignalled : 0);
    event->waiters.store(0);
    event->head = nullptr;
    const int rc = pthread_mutex_init(&event->lock, nullptr);
    if (rc != 0) {
        delete event;
        errno = rc;
        return nullptr;
    }
    return event;
}

void PlatformDestroyEvent(void *handle) {
    tEvent *event = static_cast<tEvent *>(handle);
    pthread_mutex_destroy(&event->lock);
    delete event;
}

void PlatformSetEvent(void *handle) {
    tEvent *event = static_cast<tEvent *>(handle);
    std::uint64_t state = event->state.load(std::memory_order_acquire);
    std::uint64_t set;
    do {
        if (state & kSignalled) return;
        set = (state + 2) | kSignalled;
    } while (!event->state.compare_exchange_weak(state, set, std::memory_order_seq_cst,
                                                 std::memory_order_acquire));
    if (event->waiters.load(std::memory_order_seq_cst) == 0) return;
    const std::uint64_t generation = set >> 1;
    pthread_mutex_lock(&event->lock);
    for (tWaitNode *node = event->head; node; node = node->next) {
        // A thread that linked in after this set (and a reset) waits for a later set.
        if (node->generation >= generation) continue;
        tWaiter *waiter = node->waiter;
        pthread_mutex_lock(&waiter->lock);
        waiter->woken = true;
        if (node->index < waiter->fired) waiter->fired = node->index;
        pthread_mutex_unlock(&waiter->lock);
        // Signalled after unlocking, so that the waiter does not wake into a held lock. The
        // waiter cannot be gone yet: it unlinks under this event's lock, which is still held.
        pthread_cond_signal(&waiter->wake);
    }
    pthread_mutex_unlock(&event->lock);
}

void PlatformResetEvent(void *handle) {
    tEvent *event = static_cast<tEvent *>(handle);
    // Waiters only care about the step to signalled, so a reset needs no lock.
    if (event->state.load(std::memory_order_relaxed) & kSignalled)
        event->state.fetch_and(~kSignalled, std::memory_order_release);
}

int PlatformWaitForEvents(int count, void **events, unsigned timeout) {
    int index = FirstSignalled(count, events);
    if (index >= 0 || timeout == 0) return index;

    const bool infinite = timeout == kInfinite;
    const timespec deadline = infinite ? timespec() : Deadline(timeout);

    tWaiter waiter;
    waiter.woken = false;
    waiter.fired = count;
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    // Time-outs count on the monotonic clock, immune to changes of the wall clock.
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&waiter.wake, &attr);
    pthread_condattr_destroy(&attr);
    pthread_mutex_init(&waiter.lock, nullptr);

    // Link into each event's list in turn, stopping early at one that is already signalled.
    tWaitNode nodes[kMaxWaitEvents];
    int linked = 0;
    int seen = count;
    for (; linked < count; ++linked) {
        tEvent *event = static_cast<tEvent *>(events[linked]);
        pthread_mutex_lock(&event->lock);
        event->waiters.fetch_add(1, std::memory_order_seq_cst);
        const std::uint64_t state = event->state.load(std::memory_order_seq_cst);
        if (state & kSignalled) {
            event->waiters.fetch_sub(1, std::memory_order_relaxed);
            pthread_mutex_unlock(&event->lock);
            seen = linked;
            break;
        }
        nodes[linked].waiter = &waiter;
        nodes[linked].index = linked;
        nodes[linked].generation = state >> 1;
        Link(event, &nodes[linked]);
        pthread_mutex_unlock(&event->lock);
    }

    if (seen == count) {
        pthread_mutex_lock(&waiter.lock);
        while (!waiter.woken) {
            if (infinite)
                pthread_cond_wait(&waiter.wake, &waiter.lock);
            else if (pthread_cond_timedwait(&waiter.wake, &waiter.lock, &deadline) == ETIMEDOUT)
                break;
        }
        pthread_mutex_unlock(&waiter.lock);
    }

    // Once unlinked under each event's lock, no setter can reach the waiter any more.
    for (int i = 0; i < linked; ++i) {
        tEvent *event = static_cast<tEvent *>(events[i]);
        pthread_mutex_lock(&event->lock);
        Unlink(event, &nodes[i]);
        event->waiters.fetch_sub(1, std::memory_order_relaxed);
        pthread_mutex_unlock(&event->lock);
    }
    pthread_mutex_destroy(&waiter.lock);
    pthread_cond_destroy(&waiter.wake);

    // A set releases every thread waiting at that moment, even if the event is reset before
    // the thread runs again: the result is the lowest index that was signalled while this
    // thread waited, or that is signalled now.
    index = FirstSignalled(count, events);
    if (index < 0 || seen < index) index = seen;
    if (waiter.fired < index) index = waiter.fired;
    return index < count ? index : -1;
}

} // namespace Quorvel::detail
