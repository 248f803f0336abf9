// Internal init and fini entry points of the subsystems that keep load-time state; called only
// from the load sequence in library.cpp.
#pragma once

namespace Quorvel::detail {

// Slot 1: the shared signalled event, then the shared non-signalled one (src/sync/event.cpp).
// A failure leaves a null handle and is not reported. Fini destroys the signalled one first.
void InitSharedEvents();
void FiniSharedEvents();

// Slot 4: the platform's socket service (src/net). Init does no work that is unsafe while the
// loader runs the library's initialisers; the service itself starts once, before the first
// socket or resolver call, and ends the process with status -1 if it cannot. Fini stops it if it
// was started.
void InitSocketService();
void FiniSocketService();

} // namespace Quorvel::detail
