// The read/write mutex record behind a mutex handle (internal).
#pragma once

#include <cstdint>

namespace Quorvel::detail {

struct tRwMutex {
    void *guard;         // critical section protecting the other three fields
    void *released;      // manual-reset event, signalled whenever the mutex becomes free
    std::int32_t holds;  // 0 free, n > 0 read n times, -n write n times (nested)
    std::uint32_t owner; // writer's thread id; meaningful only while holds < 0
};

// How long a waiter sleeps on the release event before it looks at the holds again, whether
// or not it was woken.
const unsigned kRwMutexRecheckMs = 10000;

} // namespace Quorvel::detail
