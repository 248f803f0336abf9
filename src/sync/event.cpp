// Events: creation with its failure report, the wait's argument checks and the two shared
// events made at load.
#include "qv_event.h"
#include "error_codes.h"

#include "qv_error.h"
#include "sync_os.h"
#include "library.h"

namespace Quorvel {

namespace {
const char kModule[] = "osevent";
} // namespace

namespace {

void *g_signalledEvent = nullptr;
void *g_nonSignalledEvent = nullptr;

} // namespace

bool osCreateEvent(cQV_Error *err, bool signalled, void *&event) {
    event = detail::PlatformCreateEvent(signalled);
    if (!event) {
        // The message text is part of the interface, including its "WSAGetLastError()" label.
        return QV_FAIL(err, detail::kErrSystem, "Failed to create event. WSAGetLastError()=%d",
                       osGetSysError());
    }
    return true;
}

void osDestroyEvent(void *&event) {
    if (!event) return;
    detail::PlatformDestroyEvent(event);
    event = nullptr;
}

void osSetEvent(void *&event) {
    if (event) detail::PlatformSetEvent(event);
}

void osResetEvent(void *&event) {
    if (event) detail::PlatformResetEvent(event);
}

int osWaitForEvents(int count, void **events, unsigned timeout) {
    if (count < 1 || count > detail::kMaxWaitEvents || !events) return -1;
    for (int i = 0; i < count; ++i) {
        if (!events[i]) return -1;
        // Windows refuses a wait that names one event twice; refusing it everywhere keeps the
        // result the same on every platform.
        for (int j = 0; j < i; ++j) {
            if (events[j] == events[i]) return -1;
        }
    }
    return detail::PlatformWaitForEvents(count, events, timeout);
}

void *&osGetSignalledEvent() {
    return g_signalledEvent;
}

void *&osGetNonSignalledEvent() {
    return g_nonSignalledEvent;
}

namespace detail {

void InitSharedEvents() {
    osCreateEvent(nullptr, true, g_signalledEvent);
    osCreateEvent(nullptr, false, g_nonSignalledEvent);
}

void FiniSharedEvents() {
    osDestroyEvent(g_signalledEvent);
    osDestroyEvent(g_nonSignalledEvent);
}

} // namespace detail

} // namespace Quorvel
