// The read/write mutex record behind a mutex handle, and its acquire and release steps
// (internal).
//
// A hold that can be granted at once is one compare-and-swap on the word; so is a release that
// leaves no waiter to wake. A thread that cannot take its hold enters the guard, counts itself in
// `waiters`, and in one compare-and-swap either takes the hold or sets the word's waiter flag;
// failing, it resets the event before it leaves the guard and waits. The flag stays set while any
// thread is counted in, and is changed only under the guard. A release sees the flag in the word
// it gives its hold back in: when that release frees the mutex with the flag set, it gives the
// hold back under the guard and sets the event there. So either the release comes first in the
// word's order and the waiter's compare-and-swap sees the mutex free, or it sees the flag and its
// event set follows the waiter's reset: no wake-up is lost. Waiters still look again every
// kRwMutexRecheckMs, woken or not.
//
// A release touches the record after its compare-and-swap only under a guard it entered before
// it, and then only to set the event and leave. Any thread that takes a hold after that
// compare-and-swap finds the flag still set (only a thread under the guard clears it), so its own
// release that frees the mutex waits for the guard. The thread that takes the mutex last may
// therefore destroy it once its own release returns, while an earlier releaser is still inside
// its call.
//
// The steps are written once against an operations type Ops, which performs every access to the
// shared record: tRwMutexSystemOps (rwmutex.cpp) on the real atomics and platform objects, and a
// test's scheduler that runs the same steps one shared access at a time. Ops provides:
// - the word: std::uint64_t LoadWord(tRwMutex *) and
//   bool CasWord(tRwMutex *, std::uint64_t &expected, std::uint64_t desired), which may fail
//   spuriously;
// - the waiter count, used only under the guard: void AddWaiter(tRwMutex *),
//   void RemoveWaiter(tRwMutex *) and std::uint32_t Waiters(tRwMutex *);
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
    // Bits 0 to 30: the holds, a signed 31-bit count (0 free, n > 0 read n times, -n write n
    // times, nested). Bit 31: the waiter flag, set while a thread waits in an acquire. Bits 32 to
    // 63: the last writer's thread id; it names the owner while the holds are negative.
    std::atomic<std::uint64_t> word;
    std::uint32_t waiters; // threads in the slow path of an acquire; only under the guard
};

const std::uint64_t kRwMutexWaiterFlag = std::uint64_t(1) << 31;

inline std::uint64_t RwMutexWord(std::uint32_t owner, std::int32_t holds, bool flag = false) {
    return (static_cast<std::uint64_t>(owner) << 32) | (flag ? kRwMutexWaiterFlag : 0) |
           (static_cast<std::uint32_t>(holds) & 0x7FFFFFFFu);
}
inline std::int32_t RwMutexHolds(std::uint64_t word) {
    const std::uint32_t v = static_cast<std::uint32_t>(word) & 0x7FFFFFFFu;
    return (v & 0x40000000u) ? -static_cast<std::int32_t>(0x80000000u - v)
                             : static_cast<std::int32_t>(v);
}
inline std::uint32_t RwMutexOwner(std::uint64_t word) {
    return static_cast<std::uint32_t>(word >> 32);
}
inline bool RwMutexFlagged(std::uint64_t word) {
    return (word & kRwMutexWaiterFlag) != 0;
}

// How long a waiter sleeps on the release event before it looks at the holds again, whether
// or not it was woken.
const unsigned kRwMutexRecheckMs = 10000;

template <typename Ops> struct tRwMutexSteps {
    // The word after a read hold by the calling thread, or false when it must wait. Readers are
    // admitted whenever no writer holds the mutex, even while writers wait; the writer's own read
    // is one more write level. The waiter flag is kept.
    static bool NextRead(Ops &ops, std::uint64_t word, std::uint64_t &next) {
        const std::int32_t holds = RwMutexHolds(word);
        const bool flag = RwMutexFlagged(word);
        if (holds >= 0) {
            next = RwMutexWord(RwMutexOwner(word), holds + 1, flag);
            return true;
        }
        if (RwMutexOwner(word) == ops.Self()) {
            next = RwMutexWord(RwMutexOwner(word), holds - 1, flag);
            return true;
        }
        return false;
    }

    // The word after a write hold by the calling thread, or false when it must wait. A thread
    // that holds the mutex for reading waits for itself, as it would for any reader. The waiter
    // flag is kept.
    static bool NextWrite(Ops &ops, std::uint64_t word, std::uint64_t &next) {
        const std::int32_t holds = RwMutexHolds(word);
        const bool flag = RwMutexFlagged(word);
        if (holds == 0) {
            next = RwMutexWord(ops.Self(), -1, flag);
            return true;
        }
        if (holds < 0 && RwMutexOwner(word) == ops.Self()) {
            next = RwMutexWord(RwMutexOwner(word), holds - 1, flag);
            return true;
        }
        return false;
    }

    template <bool Write> static bool Next(Ops &ops, std::uint64_t word, std::uint64_t &next) {
        return Write ? NextWrite(ops, word, next) : NextRead(ops, word, next);
    }

    template <bool Write> static bool TryTake(Ops &ops, tRwMutex *m) {
        std::uint64_t word = ops.LoadWord(m);
        std::uint64_t wanted;
        while (Next<Write>(ops, word, wanted))
            if (ops.CasWord(m, word, wanted)) return true;
        return false;
    }

    // A read hold while no writer holds the mutex, without asking for the calling thread's id:
    // one more read hold is the word plus one, whatever the flag and owner bits.
    static bool TakeReadAtOnce(Ops &ops, tRwMutex *m) {
        std::uint64_t word = ops.LoadWord(m);
        while (RwMutexHolds(word) >= 0)
            if (ops.CasWord(m, word, word + 1)) return true;
        return false;
    }

    template <bool Write> static void Acquire(Ops &ops, tRwMutex *m) {
        if (!(Write ? TryTake<true>(ops, m) : TakeReadAtOnce(ops, m)))
            AcquireWaiting<Write>(ops, m);
    }

    // The rest of an acquire, out of line so that the fast path needs no stack frame: the
    // writer's own read, then waiting.
    template <bool Write> [[gnu::noinline]] static void AcquireWaiting(Ops &ops, tRwMutex *m) {
        if (!Write && TryTake<false>(ops, m)) return;
        ops.Enter(m);
        ops.AddWaiter(m);
        for (;;) {
            // Under the guard: take the hold, keeping the flag only for the waiters that stay,
            // or set the flag so that the release that frees the mutex sets the event.
            const bool others = ops.Waiters(m) > 1;
            std::uint64_t word = ops.LoadWord(m), next;
            bool taken = false;
            for (;;) {
                if (Next<Write>(ops, word, next)) {
                    next = (next & ~kRwMutexWaiterFlag) | (others ? kRwMutexWaiterFlag : 0);
                    if (ops.CasWord(m, word, next)) {
                        taken = true;
                        break;
                    }
                } else if (RwMutexFlagged(word) ||
                           ops.CasWord(m, word, word | kRwMutexWaiterFlag)) {
                    break;
                }
            }
            if (taken) break;
            ops.Reset(m);
            ops.Leave(m);
            ops.Wait(m);
            ops.Enter(m);
        }
        ops.RemoveWaiter(m);
        ops.Leave(m);
    }

    // The word after `word` gives back one hold, or false when the mutex is free. The holds sit in
    // the low 31 bits: a read hold less is the word minus one; a write level less is the word
    // plus one, except for the last, whose plus one would carry into the flag.
    static bool NextRelease(std::uint64_t word, std::uint64_t &next) {
        const std::int32_t holds = RwMutexHolds(word);
        if (holds == 0) return false;
        next = holds > 0 ? word - 1 : holds == -1 ? word & ~std::uint64_t(0x7FFFFFFF) : word + 1;
        return true;
    }

    // Gives back one hold, from whichever thread: a read hold may be released by any thread.
    // Releasing a free mutex changes nothing. A release that frees the mutex while the flag is
    // set is done under the guard, which it leaves as its last touch of the record.
    static void Release(Ops &ops, tRwMutex *m) {
        std::uint64_t word = ops.LoadWord(m), next;
        for (;;) {
            if (!NextRelease(word, next)) return;
            if (RwMutexHolds(next) == 0 && RwMutexFlagged(next)) break;
            if (ops.CasWord(m, word, next)) return;
        }
        ReleaseWaking(ops, m);
    }

    // The release that frees the mutex while a waiter is flagged, under the guard; out of line.
    [[gnu::noinline]] static void ReleaseWaking(Ops &ops, tRwMutex *m) {
        std::uint64_t word, next;
        ops.Enter(m);
        word = ops.LoadWord(m);
        while (NextRelease(word, next)) {
            if (ops.CasWord(m, word, next)) {
                if (RwMutexHolds(next) == 0 && RwMutexFlagged(next)) ops.Set(m);
                break;
            }
        }
        ops.Leave(m);
    }
};

} // namespace Quorvel::detail
