// Threads: the start record and the start steps shared by every platform.
#include "qv_thread.h"
#include "error_codes.h"

#include "qv_error.h"
#include "sync_os.h"

#include <new>

namespace Quorvel {

namespace {

const char kModule[] = "osthread";

// Owned by the new thread from the moment it exists; freed by its start steps.
struct tThreadStart {
    unsigned (*routine)(void *);
    void *arg;
    void (*callback)(bool, unsigned, void *, unsigned);
};

} // namespace

namespace detail {

tStartThreadFn g_startThread = &PlatformStartThread;

unsigned RunThreadStart(void *record) {
    tThreadStart *start = static_cast<tThreadStart *>(record);
    const unsigned id = osGetCurrentThreadId();
    if (start->callback) start->callback(true, id, start->arg, 0);
    const unsigned exitCode = start->routine ? start->routine(start->arg) : 0;
    if (start->callback) start->callback(false, id, start->arg, exitCode);
    delete start;
    return exitCode;
}

} // namespace detail

void *osCreateThread(cQV_Error *err, unsigned (*routine)(void *), void *arg,
                     void (*callback)(bool, unsigned, void *, unsigned)) {
    tThreadStart *start = new (std::nothrow) tThreadStart;
    if (!start) {
        QV_FAIL(err, detail::kErrMemory,
                "Failed to allocate memory for new thread. Requested size:%d",
                static_cast<int>(sizeof(tThreadStart)));
        return nullptr;
    }
    start->routine = routine;
    start->arg = arg;
    start->callback = callback;

    void *handle = nullptr;
    if (!detail::g_startThread(start, handle)) {
        // Read the reason before anything else can overwrite it.
        const int sysError = osGetSysError();
        delete start;
        QV_FAIL(err, detail::kErrThread, "Failed to create new thread. %s",
                static_cast<const char *>(osGetSysErrorStr(sysError)));
        return nullptr;
    }
    return handle;
}

void osCloseThread(void *&thread) {
    if (!thread) return;
    detail::PlatformJoinThread(thread);
    thread = nullptr;
}

void osSetPriority(int priority) {
    if (priority < -2 || priority > 2) return;
    detail::PlatformSetPriority(priority);
}

void osThreadDisableSignals() {}

} // namespace Quorvel
