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
// On Windows these constructors run inside the DLL entry point, under the loader lock: nothing here
// may load another DLL or wait for another thread. Slot 5 therefore reads only what kernel32 and
// advapi32 (already loaded with the library) answer at once: the version record, the native system
// information, the memory status and the processor's registry values. The performance-counter
// interface (pdh.dll) is loaded only when a system monitor first needs it, once for the process,
// and the system-times call is looked up then as well; the facts themselves are still read once,
// here.
#include "library.h"

namespace Quorvel::detail {

namespace {

struct LibraryState {
    LibraryState() {
        // Each later subsystem adds its init call here, in its slot of the order above.
        InitSharedEvents();
        InitSysInfo();
    }
    ~LibraryState() {
        // The matching fini calls, in reverse order.
        FiniSysInfo();
        FiniSharedEvents();
    }
};

// The only static object with a non-trivial constructor in the library.
const LibraryState gLibraryState;

} // namespace

} // namespace Quorvel::detail
