// Events, critical sections and the read/write mutex. Every object is an opaque handle.
#pragma once

#include "qv_os_export.h"

namespace Quorvel {

class cQV_Error;

// ---- Events (module "osevent") -----------------------------------------------------------
// Every event is manual-reset: once set it stays signalled for every waiter until it is reset.

// Creates an unnamed manual-reset event in the given initial state and stores it in event.
// On failure: event = null, code 1 "Failed to create event. WSAGetLastError()=%d", false.
QV_OS_API bool osCreateEvent(cQV_Error *err, bool signalled, void *&event);
// Closes the event and sets the handle to null; a null handle is left alone.
QV_OS_API void osDestroyEvent(void *&event);
// Signals the event. Setting a signalled event does nothing.
QV_OS_API void osSetEvent(void *&event);
// Returns the event to non-signalled. Resetting a non-signalled event does nothing.
QV_OS_API void osResetEvent(void *&event);
// Waits until any of the count events is signalled or timeout milliseconds have passed
// (0: test and return at once; 4294967295: no limit). Returns the index of the signalled
// event, the lowest one when several are; -1 on time-out, on a count below 1 or above 64, on a
// null array or handle, on an event named twice, and on any failure of the wait. Waiting does not
// reset the event.
QV_OS_API int osWaitForEvents(int count, void **events, unsigned timeout);
// The two process-wide events created when the library is loaded: one signalled and one
// non-signalled. The references are to the stored handles themselves.
QV_OS_API void *&osGetSignalledEvent();
QV_OS_API void *&osGetNonSignalledEvent();

// ---- Critical sections (module "osmutex") ------------------------------------------------
// Recursive locks: the holding thread may enter again and leaves as often as it entered.

// Allocates a critical section and stores it in section; true. If memory runs out: code 7
// "Failed to allocate memory. Requested size:%d", section unchanged, false.
QV_OS_API bool osCreateCriticalSection(cQV_Error *err, void *&section);
// Deletes the critical section and sets the handle to null; a null handle is left alone.
QV_OS_API void osDestroyCriticalSection(void *&section);
// Blocks until the calling thread holds the critical section. A null handle does nothing.
QV_OS_API void osEnterCriticalSection(void *&section);
// Leaves once. A null handle does nothing.
QV_OS_API void osLeaveCriticalSection(void *&section);

// ---- Read/write mutex (module "osmutex") -------------------------------------------------
// Many read holds or one thread's (nested) write holds. Read holds are not tied to a thread:
// any thread may release them. The writing thread may also take read holds, each counting as
// one more write level. There is no fairness: readers are admitted while writers wait. A thread
// that holds a read hold and asks for a write hold waits until every read hold, its own
// included, is released: release read holds before asking for a write hold.
// A waiting thread wakes when the mutex becomes free and checks again at least every 10 s.

// Creates a free mutex and stores it in mutex; true. False on failure (a failure to allocate
// the mutex itself fills nothing in err; a failure to create its parts reports as those do).
QV_OS_API bool osCreateMutex(cQV_Error *err, void *&mutex);
// Destroys the mutex and sets the handle to null; a null handle is left alone.
QV_OS_API void osDestroyMutex(void *&mutex);
// Takes a read hold; blocks while another thread holds the mutex for writing.
QV_OS_API void osAcquireMutexRead(void *mutex);
// Takes a write hold; blocks while any read hold or another thread's write hold exists.
QV_OS_API void osAcquireMutexWrite(void *mutex);
// Gives back one hold of either kind. Releasing a free mutex leaves it free.
QV_OS_API void osReleaseMutex(void *mutex);

} // namespace Quorvel
