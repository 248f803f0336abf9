// The read/write mutex record behind a mutex handle (internal).
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

} // namespace Quorvel::detail
