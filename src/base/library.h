// Internal init and fini entry points of the subsystems that keep load-time state; called only
// from the load sequence in library.cpp.
//
// Per-thread notifications on Windows: the library's entry point does nothing on a thread's
// attach or detach, but the system does not switch the notifications off for it. The statically
// linked runtime gives the DLL static thread-local storage, for which the system refuses
// DisableThreadLibraryCalls, and that runtime relies on the notifications to free what each
// ending thread kept. What holds: the library runs no code of its own per thread; the runtime's
// per-thread callbacks do run.
#pragma once

namespace Quorvel::detail {

// True where the load sequence runs under a loader lock (Windows): the slots whose work could
// load another library or block then defer it to the first call that needs it, once.
extern const bool kPlatformDefersLoaderWork;

// Slot 1: the shared signalled event, then the shared non-signalled one (src/sync/event.cpp).
// A failure leaves a null handle and is not reported. Fini destroys the signalled one first.
void InitSharedEvents();
void FiniSharedEvents();

// Slot 2: the identifier generator's state (src/base/uid.cpp): the load time, the machine part
// (the Ethernet address, or the load time where the machine has none), a critical section and the
// last generation time. Where loader work is deferred, the Ethernet address is looked up once, by
// the first identifier generated; the load time it falls back on is still the one taken here.
// Fini destroys the critical section.
void InitUidGenerator();
void FiniUidGenerator();

// Slot 5: the system-information singleton reads the processor, memory and operating-system
// facts (src/sysinfo/sysinfo.cpp), at load or, where loader work is deferred, at the first call
// that asks for one. Fini releases them and whatever the monitors kept open.
void InitSysInfo();
void FiniSysInfo();

// Slot 4: the platform's socket service (src/net). Init does no work that is unsafe while the
// loader runs the library's initialisers; the service itself starts once, before the first
// socket or resolver call, and ends the process with status -1 if it cannot. Fini stops it if it
// was started.
void InitSocketService();
void FiniSocketService();

} // namespace Quorvel::detail
