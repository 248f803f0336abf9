// Threads on Linux: pthreads, the kernel thread id (gettid) and per-thread niceness.
#include "qv_thread.h"

#include "sync_os.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Quorvel {

namespace {

static_assert(sizeof(pthread_t) <= sizeof(void *), "a pthread_t must fit in a thread handle");

void *ToHandle(pthread_t thread) {
    void *handle = nullptr;
    std::memcpy(&handle, &thread, sizeof thread);
    return handle;
}

pthread_t FromHandle(void *handle) {
    pthread_t thread;
    std::memcpy(&thread, &handle, sizeof thread);
    return thread;
}

void *ThreadEntry(void *record) {
    const unsigned exitCode = detail::RunThreadStart(record);
    return reinterpret_cast<void *>(static_cast<std::uintptr_t>(exitCode));
}

// The kernel id of the calling thread, read once per thread. 0 is never a valid id, so it
// marks "not read yet".
thread_local unsigned t_threadId = 0;

// A forked child keeps the forking thread's thread_local values, but the kernel gives its only
// thread a new id.
void ForgetThreadIdInChild() {
    t_threadId = 0;
}

// Niceness of each priority level -2..2.
const int kNiceOfPriority[5] = {10, 5, 0, -5, -10};

} // namespace

namespace detail {

bool PlatformStartThread(void *record, void *&handle) {
    pthread_t thread;
    const int rc = pthread_create(&thread, nullptr, &ThreadEntry, record);
    if (rc != 0) {
        // pthread_create returns its reason instead of setting errno.
        errno = rc;
        return false;
    }
    handle = ToHandle(thread);
    return true;
}

void PlatformJoinThread(void *handle) {
    const pthread_t thread = FromHandle(handle);
    if (pthread_equal(thread, pthread_self())) {
        // Joining oneself would wait forever; let the system reclaim the thread when it ends.
        pthread_detach(thread);
        return;
    }
    pthread_join(thread, nullptr);
}

void PlatformSetPriority(int priority) {
    // On Linux a thread id names just that thread to setpriority, so this changes the
    // calling thread's niceness only, not the whole process's.
    setpriority(PRIO_PROCESS, static_cast<id_t>(osGetCurrentThreadId()),
                kNiceOfPriority[priority + 2]);
}

} // namespace detail

unsigned osGetCurrentThreadId() {
    if (t_threadId == 0) {
        // Registered on first use rather than at load, so that loading does nothing more.
        static const int forkHandler = pthread_atfork(nullptr, nullptr, &ForgetThreadIdInChild);
        (void)forkHandler;
        t_threadId = static_cast<unsigned>(syscall(SYS_gettid));
    }
    return t_threadId;
}

int osGetPriority() {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(osGetCurrentThreadId()));
    if (nice == -1 && errno != 0) return 0;
    // Nearest level; the levels lie 5 niceness steps apart.
    if (nice <= -8) return 2;
    if (nice <= -3) return 1;
    if (nice <= 2) return 0;
    if (nice <= 7) return -1;
    return -2;
}

void osSleep(unsigned milliseconds) {
    timespec left;
    left.tv_sec = static_cast<time_t>(milliseconds / 1000);
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    // A signal handler interrupts nanosleep; sleep on for the time that is left.
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}

} // namespace Quorvel
