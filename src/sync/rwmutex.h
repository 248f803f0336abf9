// The read/write mutex record behind a mutex handle, and its acquire and release steps
// (internal).
//
// A hold that can be granted at once is one compare-and-swap on the word; so is a release that
// leaves no waiter to wake. A thread that cannot take its hold announces itself in `waiters`, then
// under the guard tries once more and, failing, resets the event before it waits. A release that
// frees the mutex while a waiter is announced sets the event under the guard. The announcement and
// the release are ordered (sequentially consistent), so either the release sees the waiter and
// sets the event after the waiter's reset, or the waiter's try sees the mutex free: no wake-up is
// lost. Waiters still look again every kRwMutexRecheckMs, woken or not.
//
// The steps are written once against an operations type Ops, which performs every access to the
// shared record: tRwMutexSystemOps (rwmutex.cpp) on the real atomics and platform objects, and a
// test's scheduler that runs the same steps one shared access at a time. Ops provides:
// - the word: std::uint64_t LoadWord(tRwMutex *) and
//   bool CasWord(tRwMutex *, std::uint64_t &expected, std::uint64_t desired), which may fail
//   spuriously;
// - the waiter count: void AddWaiter(tRwMutex *), void RemoveWaiter(tRwMutex *) and
//   std::uint32_t Waiters(tRwMutex *);
// - the guard: void Enter(tRwMutex *) and void Leave(tRwMutex *);
// - the release event: void Reset(tRwMutex *), void Set(tRwMutex *) and void Wait(tRwMutex *);
// - the calling thread: unsigned Self().

#pragma once

#include <atomic>
#include <cstdint>

namespace Quorvel::detail {

// The holds and the writer share one atomic word, so that a hold or a release the mutex can grant
// at once is one compare-and-swap and touches neither the guard nor the event. The guard and the
// event are used only by threads that must wait and by the releases that must wake them.
struct tRwMutex {
    void *guard;    // critical section under which waiters reset and releasers set the event
    void *released; // manual-reset event, set when the mutex becomes free while threads wait
    // Low 32 bits: the holds (0 free, n > 0 read n times, -n write n times, nested). High 32 bits:
    // the last writer's thread id; it names the owner while the holds are negative.
    std::atomic<std::uint64_t> word;
    std::atomic<std::uint32_t> waiters; // threads in the slow path of an acquire
};

inline std::uint64_t RwMutexWord(std::uint32_t owner, std::int32_t holds) {
    return (static_cast<std::uint64_t>(owner) << 32) | static_cast<std::uint32_t>(holds);
}
inline std::int32_t RwMutexHolds(std::uint64_t word) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(word));
}
inline std::uint32_t RwMutexOwner(std::uint64_t word) {
    return static_cast<std::uint32_t>(word >> 32);
}

// How long a waiter sleeps on the release event before it looks at the holds again, whether
// or not it was woken.
const unsigned kRwMutexRecheckMs = 10000;

template <typename Ops> struct tRwMutexSteps {
    // The word after a read hold by the calling thread, or false when it must wait. Readers are
    // admitted whenever no writer holds the mutex, even while writers wait; the writer's own read
    // is one more write level.
    static bool NextRead(Ops &ops, std::uint64_t word, std::uint64_t &next) {
        const std::int32_t holds = RwMutexHolds(word);
        if (holds >= 0) {
            next = RwMutexWord(RwMutexOwner(word), holds + 1);
            return true;
        }
        if (RwMutexOwner(word) == ops.Self()) {
            next = RwMutexWord(RwMutexOwner(word), holds - 1);
            return true;
        }
        return false;
    }

    // The word after a write hold by the calling thread, or false when it must wait. A thread
    // that holds the mutex for reading waits for itself, as it would for any reader.
    static bool NextWrite(Ops &ops, std::uint64_t word, std::uint64_t &next) {
        const std::int32_t holds = RwMutexHolds(word);
        if (holds == 0) {
            next = RwMutexWord(ops.Self(), -1);
            return true;
        }
        if (holds < 0 && RwMutexOwner(word) == ops.Self()) {
            next = RwMutexWord(RwMutexOwner(word), holds - 1);
            return true;
        }
        return false;
    }

    template <bool Write> static bool TryTake(Ops &ops, tRwMutex *m) {
        std::uint64_t word = ops.LoadWord(m);
        std::uint64_t wanted;
        while (Write ? NextWrite(ops, word, wanted) : NextRead(ops, word, wanted))
            if (ops.CasWord(m, word, wanted)) return true;
        return false;
    }

    template <bool Write> static void Acquire(Ops &ops, tRwMutex *m) {
        if (TryTake<Write>(ops, m)) return;
        ops.AddWaiter(m);
        for (;;) {
            ops.Enter(m);
            const bool taken = TryTake<Write>(ops, m);
            if (!taken) ops.Reset(m);
            ops.Leave(m);
            if (taken) break;
            ops.Wait(m);
        }
        ops.RemoveWaiter(m);
    }

    // Gives back one hold, from whichever thread: a read hold may be released by any thread.
    // Releasing a free mutex changes nothing.
    static void Release(Ops &ops, tRwMutex *m) {
        std::uint64_t word = ops.LoadWord(m);
        std::int32_t holds;
        for (;;) {
            holds = RwMutexHolds(word);
            if (holds == 0) break;
            const std::uint64_t next =
                RwMutexWord(RwMutexOwner(word), holds > 0 ? holds - 1 : holds + 1);
            if (ops.CasWord(m, word, next)) {
                holds = RwMutexHolds(next);
                break;
            }
        }
        if (holds == 0 && ops.Waiters(m) != 0) {
            ops.Enter(m);
            ops.Set(m);
            ops.Leave(m);
        }
    }
};

} // namespace Quorvel::detail
