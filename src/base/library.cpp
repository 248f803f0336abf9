// The library's load and unload sequence: every piece of static state is set up here, in one
// order, and torn down in the reverse order. Nothing else runs at load.
//
// Load order:
//   1. the two shared events, the signalled one first, then the non-signalled one;
//   2. the identifier generator's state;
//   3. the empty identifier;
//   4. the platform's socket service (the process ends with status -1 if it cannot start);
//   5. the system-information singleton.
#include "library.h"

namespace Quorvel::detail {

namespace {

struct LibraryState {
    LibraryState() {
        // Each later subsystem adds its init call here, in its slot of the order above.
        InitSharedEvents();
    }
    ~LibraryState() {
        // The matching fini calls, in reverse order.
        FiniSharedEvents();
    }
};

// The only static object with a non-trivial constructor in the library.
const LibraryState gLibraryState;

} // namespace

} // namespace Quorvel::detail
