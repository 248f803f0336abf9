// Threads: start with a completion callback, join and close, thread id, priority, sleep.
#pragma once

#include "qv_os_export.h"

namespace Quorvel {

class cQV_Error;

// Starts a thread that runs routine(arg); the routine's result is the thread's exit code.
// The optional callback is called on the new thread before the routine with
// (true, thread id, arg, 0) and after it with (false, thread id, arg, exit code); the thread id
// is the new thread's osGetCurrentThreadId(). A null routine runs nothing and exits with 0.
// Returns the thread handle, or null on failure:
//   code 7 "Failed to allocate memory for new thread. Requested size:%d" (module "osthread"),
//   code 4 "Failed to create new thread. %s" with the system's reason.
// Nothing stays allocated after a failure.
QV_OS_API void *osCreateThread(cQV_Error *err, unsigned (*routine)(void *), void *arg,
                               void (*callback)(bool, unsigned, void *, unsigned));

// Waits without a time limit until the thread has ended, releases the handle and sets it to
// null. A null handle is left alone. A thread that closes its own handle releases it without
// waiting (it cannot wait for itself).
QV_OS_API void osCloseThread(void *&thread);

// The system's id of the calling thread: GetCurrentThreadId() on Windows, the kernel thread id
// (gettid) on Linux. The same value the completion callback receives.
QV_OS_API unsigned osGetCurrentThreadId();

// Priority of the calling thread: -2 lowest, -1 below normal, 0 normal, 1 above normal,
// 2 highest. On Windows these are the system's thread priority values, passed through unchanged
// (osGetPriority may also report other system values such as 15 or -15).
// On Linux the priority is the calling thread's own niceness:
//   priority  2  1  0  -1  -2
//   nice    -10 -5  0   5  10
// osGetPriority maps the current niceness to the nearest level (nice <= -8 gives 2, -7..-3
// gives 1, -2..2 gives 0, 3..7 gives -1, >= 8 gives -2). Raising priority above the current one
// needs the right to lower niceness (root or CAP_SYS_NICE); without it nothing changes.
QV_OS_API int osGetPriority();

// Sets the calling thread's priority; values outside -2..2 are ignored without a report.
QV_OS_API void osSetPriority(int priority);

// Suspends the calling thread for at least the given number of milliseconds.
QV_OS_API void osSleep(unsigned milliseconds);

// Has no effect on any platform; callers may call it at any time.
QV_OS_API void osThreadDisableSignals();

} // namespace Quorvel
