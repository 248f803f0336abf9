// The identifier generator's pieces, apart from its process-wide state, so that the waiting rule
// and the byte layout can be driven with a made-up clock.
#pragma once

#include "qv_time.h"

namespace Quorvel::detail {

// Where the generator reads the time and how it waits.
struct tUidClock {
    void (*now)(tTimeb &t);     // the current time
    void (*sleep)(unsigned ms); // a sleep of whole milliseconds
    void (*pause)();            // a short pause that lets other threads run
};

// How many pauses the generator spends waiting for the clock to pass a millisecond before it
// sleeps instead: a clock that ticks in coarse steps, or one set back, then costs no processor.
constexpr int kUidSpinPauses = 20000;

// The first time read from clock that is strictly later than last. While the clock shows last
// itself (the next millisecond is under one millisecond away) it pauses and reads again, at most
// kUidSpinPauses times in a row; while it shows an earlier time (set back), or after that many
// pauses, it sleeps one millisecond between readings.
tTimeb NextUidTime(const tTimeb &last, const tUidClock &clock);

// The machine part of a machine without an Ethernet address: the seconds (4 bytes) and the
// milliseconds (2 bytes) of loaded, big-endian.
void UidMachineFromTime(const tTimeb &loaded, unsigned char machine[6]);

// The 16 bytes of an identifier: machine part, process id, seconds and milliseconds, the last
// three little-endian.
void WriteUid(unsigned char out[16], const unsigned char machine[6], unsigned pid, const tTimeb &t);

// The machine part the generator uses, read once (see library.cpp) on first use where loader work
// is deferred.
void UidMachinePart(unsigned char machine[6]);

} // namespace Quorvel::detail
