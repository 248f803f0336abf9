// Synchronisation: the library's locks, events and threads against the standard or system
// primitive that does the same work.
#include "bench_table.h"
#include "qv_event.h"
#include "qv_thread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <thread>

using namespace Quorvel;

namespace {

const unsigned kInfinite = 4294967295u;

// glibc skips the atomic operations of its locks while a process has never had a second thread.
// Locks exist for programs with several threads, so every row here is measured in a process that
// has started one: otherwise the peers would be timed on a path no real user of a lock takes.
[[maybe_unused]] const bool kThreadStarted = [] {
    std::thread([] {}).join();
    return true;
}();

// ---- read/write mutex, one reader, no contention ----

void RwMutexRead(benchmark::State &state) {
    void *m = nullptr;
    osCreateMutex(nullptr, m);
    for (auto _ : state) {
        osAcquireMutexRead(m);
        osReleaseMutex(m);
    }
    osDestroyMutex(m);
}

void PthreadRwlockRead(benchmark::State &state) {
    pthread_rwlock_t lock;
    pthread_rwlock_init(&lock, nullptr);
    for (auto _ : state) {
        pthread_rwlock_rdlock(&lock);
        pthread_rwlock_unlock(&lock);
    }
    pthread_rwlock_destroy(&lock);
}

void RwMutexWrite(benchmark::State &state) {
    void *m = nullptr;
    osCreateMutex(nullptr, m);
    for (auto _ : state) {
        osAcquireMutexWrite(m);
        osReleaseMutex(m);
    }
    osDestroyMutex(m);
}

void PthreadRwlockWrite(benchmark::State &state) {
    pthread_rwlock_t lock;
    pthread_rwlock_init(&lock, nullptr);
    for (auto _ : state) {
        pthread_rwlock_wrlock(&lock);
        pthread_rwlock_unlock(&lock);
    }
    pthread_rwlock_destroy(&lock);
}

// ---- critical section, no contention ----

void CriticalSectionEnterLeave(benchmark::State &state) {
    void *cs = nullptr;
    osCreateCriticalSection(nullptr, cs);
    for (auto _ : state) {
        osEnterCriticalSection(cs);
        osLeaveCriticalSection(cs);
    }
    osDestroyCriticalSection(cs);
}

void RecursiveMutexLockUnlock(benchmark::State &state) {
    std::recursive_mutex m;
    for (auto _ : state) {
        m.lock();
        m.unlock();
    }
}

// ---- ping-pong between two threads: one iteration is one round trip ----

void EventPingPong(benchmark::State &state) {
    void *ping = nullptr, *pong = nullptr;
    osCreateEvent(nullptr, false, ping);
    osCreateEvent(nullptr, false, pong);
    std::atomic<bool> stop{false};
    std::thread partner([&] {
        for (;;) {
            osWaitForEvents(1, &ping, kInfinite);
            osResetEvent(ping);
            if (stop.load()) return;
            osSetEvent(pong);
        }
    });
    for (auto _ : state) {
        osSetEvent(ping);
        osWaitForEvents(1, &pong, kInfinite);
        osResetEvent(pong);
    }
    stop.store(true);
    osSetEvent(ping);
    partner.join();
    osDestroyEvent(ping);
    osDestroyEvent(pong);
}

void CondVarPingPong(benchmark::State &state) {
    std::mutex m;
    std::condition_variable toPartner, toMain;
    bool partnerTurn = false, stop = false;
    std::thread partner([&] {
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            toPartner.wait(lock, [&] { return partnerTurn || stop; });
            if (stop) return;
            partnerTurn = false;
            toMain.notify_one();
        }
    });
    for (auto _ : state) {
        std::unique_lock<std::mutex> lock(m);
        partnerTurn = true;
        toPartner.notify_one();
        toMain.wait(lock, [&] { return !partnerTurn; });
    }
    {
        std::lock_guard<std::mutex> lock(m);
        stop = true;
    }
    toPartner.notify_one();
    partner.join();
}

// ---- thread start and join ----

unsigned Nothing(void *) {
    return 0;
}

void ThreadCreateClose(benchmark::State &state) {
    for (auto _ : state) {
        void *t = osCreateThread(nullptr, &Nothing, nullptr, nullptr);
        osCloseThread(t);
    }
}

void StdThreadCreateJoin(benchmark::State &state) {
    for (auto _ : state) {
        std::thread t([] { benchmark::DoNotOptimize(Nothing(nullptr)); });
        t.join();
    }
}

QV_BENCH_ROW(rwmutex_read, "rw mutex read acquire+release vs pthread_rwlock", "<= 1.5x time",
             RwMutexRead, PthreadRwlockRead);
QV_BENCH_ROW(rwmutex_write, "rw mutex write acquire+release vs pthread_rwlock", "<= 1.5x time",
             RwMutexWrite, PthreadRwlockWrite);
QV_BENCH_ROW(critical_section, "critical section enter+leave vs std::recursive_mutex",
             "<= 1.2x time", CriticalSectionEnterLeave, RecursiveMutexLockUnlock);
QV_BENCH_ROW(event_pingpong, "event ping-pong round trip vs condition_variable", "<= 1.5x time",
             EventPingPong, CondVarPingPong);
QV_BENCH_ROW(thread_create, "thread create+close vs std::thread create+join", "<= 1.2x time",
             ThreadCreateClose, StdThreadCreateJoin);

} // namespace
