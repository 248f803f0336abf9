// Internal init and fini entry points of the subsystems that keep load-time state; called only
// from the load sequence in library.cpp.
#pragma once

namespace Quorvel::detail {

// Slot 1: the shared signalled event, then the shared non-signalled one (src/sync/event.cpp).
// A failure leaves a null handle and is not reported. Fini destroys the signalled one first.
void InitSharedEvents();
void FiniSharedEvents();

// Slot 5: the system-information singleton reads the processor, memory and operating-system
// facts (src/sysinfo/sysinfo.cpp). Fini releases them and whatever the monitors kept open.
void InitSysInfo();
void FiniSysInfo();

} // namespace Quorvel::detail
