// Platform primitives behind threads, events and critical sections. The shared code in thread.cpp,
// event.cpp, critical_section.cpp and rwmutex.cpp is written once against these. Implemented in
// event_posix.cpp (any POSIX system), thread_linux.cpp and critical_section_linux.cpp (Linux: the
// kernel thread id and futexes) and the *_win32.cpp files.
#pragma once

#include <cstddef>

namespace Quorvel::detail {

// ---- Threads ----
// Runs the start steps of a new thread on the start record (callback, routine, callback,
// free the record) and returns the exit code. Called by the platform's thread entry.
unsigned RunThreadStart(void *record);

// Starts a platform thread that calls RunThreadStart(record). On success stores the thread
// handle and returns true; on failure leaves the reason where osGetSysError() reads it and
// returns false (the record is then still the caller's).
bool PlatformStartThread(void *record, void *&handle);

// Test seam: the function osCreateThread uses to start a thread; PlatformStartThread unless a
// test replaces it to simulate a refusal by the system.
typedef bool (*tStartThreadFn)(void *record, void *&handle);
extern tStartThreadFn g_startThread;

// Waits for the thread to end and releases the handle. A thread that passes its own handle
// releases it without waiting.
void PlatformJoinThread(void *handle);

// Sets the calling thread's priority (already checked to lie in -2..2).
void PlatformSetPriority(int priority);

// ---- Events ----
// Creates a manual-reset event; null on failure with the reason where osGetSysError() reads it.
void *PlatformCreateEvent(bool signalled);
void PlatformDestroyEvent(void *event);
void PlatformSetEvent(void *event);
void PlatformResetEvent(void *event);
// Most events one wait accepts.
const int kMaxWaitEvents = 64;
// Waits for any of count (1..kMaxWaitEvents) non-null events; the index of the lowest signalled
// one, or -1 on time-out or failure. timeout 4294967295 waits without limit.
int PlatformWaitForEvents(int count, void **events, unsigned timeout);

// ---- Critical sections ----
// Bytes of one platform lock object; the shared code allocates them.
extern const std::size_t kCriticalSectionSize;
void PlatformInitCriticalSection(void *section);
void PlatformDeleteCriticalSection(void *section);
void PlatformEnterCriticalSection(void *section);
void PlatformLeaveCriticalSection(void *section);

} // namespace Quorvel::detail
