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
// On Windows these initialisers run inside the DLL's entry point, under the loader lock, where
// starting services that may load other DLLs or start threads (WSAStartup among them) can
// deadlock. A slot whose service needs such a start only arranges it here: the socket service of
// slot 4 starts once, on the first socket or resolver call (a once-only start that every such call
// passes through), and its fini stops it only if it was started.
#include "library.h"

namespace Quorvel::detail {

namespace {

struct LibraryState {
    LibraryState() {
        // Each later subsystem adds its init call here, in its slot of the order above.
        InitSharedEvents();
        InitSocketService();
    }
    ~LibraryState() {
        // The matching fini calls, in reverse order.
        FiniSocketService();
        FiniSharedEvents();
    }
};

// The only static object with a non-trivial constructor in the library.
const LibraryState gLibraryState;

} // namespace

} // namespace Quorvel::detail
