// Conversion between the Windows file-time count (100-ns intervals since 1601-01-01 00:00:00 UTC)
// and seconds since 1970-01-01 00:00:00 UTC. Plain arithmetic, so every platform's tests check it.
#pragma once

#include <cstdint>

namespace Quorvel::detail {

// The file-time count at 1970-01-01 00:00:00 UTC, and the counts per second.
constexpr uint64_t kFileTimeAt1970 = 116444736000000000ULL;
constexpr uint64_t kFileTimePerSecond = 10000000ULL;

// Whole seconds since 1970 of a file-time count, rounded down (negative before 1970).
constexpr int64_t FileTimeToUnixSeconds(uint64_t ticks) {
    return ticks >= kFileTimeAt1970
               ? static_cast<int64_t>((ticks - kFileTimeAt1970) / kFileTimePerSecond)
               : -static_cast<int64_t>((kFileTimeAt1970 - ticks + kFileTimePerSecond - 1) /
                                       kFileTimePerSecond);
}

// The file-time count of a second since 1970; false for seconds before 1601 or past the count's
// range.
constexpr bool UnixSecondsToFileTime(int64_t seconds, uint64_t &ticks) {
    constexpr int64_t kFirst = -static_cast<int64_t>(kFileTimeAt1970 / kFileTimePerSecond);
    constexpr int64_t kLast =
        static_cast<int64_t>((UINT64_MAX - kFileTimeAt1970) / kFileTimePerSecond);
    if (seconds < kFirst || seconds > kLast) return false;
    ticks = static_cast<uint64_t>(seconds - kFirst) * kFileTimePerSecond;
    return true;
}

} // namespace Quorvel::detail
