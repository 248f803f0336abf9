// Critical sections on POSIX: a recursive pthread mutex.
#include "sync_os.h"

#include <pthread.h>

namespace Quorvel {
namespace detail {

const std::size_t kCriticalSectionSize = sizeof(pthread_mutex_t);

void PlatformInitCriticalSection(void *section) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    // Initialising a recursive mutex with valid attributes does not fail on Linux: it only
    // fills the object, it allocates nothing.
    pthread_mutex_init(static_cast<pthread_mutex_t *>(section), &attr);
    pthread_mutexattr_destroy(&attr);
}

void PlatformDeleteCriticalSection(void *section) {
    pthread_mutex_destroy(static_cast<pthread_mutex_t *>(section));
}

void PlatformEnterCriticalSection(void *section) {
    pthread_mutex_lock(static_cast<pthread_mutex_t *>(section));
}

void PlatformLeaveCriticalSection(void *section) {
    pthread_mutex_unlock(static_cast<pthread_mutex_t *>(section));
}

} // namespace detail
} // namespace Quorvel
