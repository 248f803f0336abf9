// The library's load and unload sequence: every piece of static state is set up here, in one
// order, and torn down in the reverse order. Nothing else runs at load.
//
// Load order:
//   1. the two shared events, the signalled one first, then the non-signalled one;
//   2. the identifier generator's state;
//   3. the empty identifier;
//   4. the platform's socket service (the process ends with status -1 if it cannot start);
//   5. the system-information singleton.
//
// Where the sequence runs: on Windows the static constructor below runs inside the DLL's entry
// point, under the loader lock. Nothing that loads another library, waits on another thread or
// starts one may run there (the socket service, the adapter enumeration and the performance
// counters all load libraries of their own). Slots 1 and 3, the events and critical section of
// slot 2 and its load time are kernel objects and plain values: they are made here, in order.
//
// The later slots keep the order and their observable effects without work under the lock:
//   - Each loader-unsafe part (slot 2's Ethernet address, slot 4's socket service, slot 5's
//     machine facts, and a monitor's performance counters) is done once, by the first call that
//     needs that part, outside the loader lock, in the caller's thread; each part has its own
//     once-flag, so concurrent first callers wait for one run. The parts are independent of each
//     other, so their order among themselves cannot be observed; each still follows the
//     load-time work of the slots before it.
//   - The service is up before a caller can use a socket: every socket and resolution function
//     passes the service's once-only start before its first platform call. No caller can reach a
//     socket without a library call, so this is indistinguishable from starting at load.
//   - A service that cannot start ends the process at once with exit status -1 (_exit(-1), or
//     ExitProcess on Windows, from inside the once-only start): the same end, reached at the first
//     call that needs the service instead of at load; calls that need none of these slots behave
//     as before.
//   - The machine part (Ethernet address, processor, memory and system facts) is read once, and
//     kept until unload; the identifier generator and the system-information singleton read only
//     the kept values.
//   - Unload runs the destructors in reverse order; what a deferred part never did is not undone.
//     The socket service's cleanup must not run under the loader lock either: at a
//     process exit it is left to the system, and at a run-time unload (FreeLibrary) the service
//     keeps its one reference until the process ends.
//   - Where the system has no loader lock (POSIX), the slots do their work here, at load, as the
//     order above says; kPlatformDefersLoaderWork tells each slot which of the two holds.
//
// Slot 5 as built: on Windows the machine facts are read by the first call that asks for one
// (once, under a once-flag); the performance-counter interface (pdh.dll) is loaded only when a
// system monitor first needs it, once for the process. On POSIX the facts are read here.
//
// Slot 4 as built: Init only arranges the start; the socket service starts once, on the first
// socket or resolver call (a once-only start that every such call passes through).
//
// Slot 2 as built: the load time, the critical section and the last generation time are set here;
// on POSIX the Ethernet address is looked up here too, on Windows by the first Generate (once),
// which falls back on the load time taken here.
//
// Slot 3 is an object of its own, so it stands between two parts of the sequence: the objects of
// one source file are constructed in the order they are defined here and destroyed in reverse.
#include "library.h"
#include "qv_uid.h"

namespace Quorvel::detail {

namespace {

struct LibraryStateEarly {
    LibraryStateEarly() {
        InitSharedEvents();
        InitUidGenerator();
    }
    ~LibraryStateEarly() {
        FiniUidGenerator();
        FiniSharedEvents();
    }
};

struct LibraryStateLate {
    LibraryStateLate() {
        InitSocketService();
        InitSysInfo();
    }
    ~LibraryStateLate() {
        FiniSysInfo();
        FiniSocketService();
    }
};

// With the empty identifier between them, the only static objects of the library whose
// constructors do work.
const LibraryStateEarly gLibraryStateEarly; // slots 1 and 2

} // namespace

} // namespace Quorvel::detail

Quorvel::cQV_Uid Quorvel::cQV_Uid::_empty; // slot 3

namespace Quorvel::detail {

namespace {

const LibraryStateLate gLibraryStateLate; // slots 4 and 5

} // namespace

} // namespace Quorvel::detail
