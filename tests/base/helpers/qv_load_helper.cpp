// Child program for the load-sequence tests: loads and unloads the library at run time.
//   qv_load_helper COUNT
// COUNT times, a new thread loads the library, makes and destroys an event through it, and
// unloads it again, while the main thread waits for it (at most 20 s each). Exits 0 when every
// round went through, 2 on bad arguments, 3 when a round hung (a deadlock in the loader), 4 when
// the library could not be loaded or lacked the function, 5 when the event could not be made.
#include "qv_event.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using tCreateEvent = decltype(&Quorvel::osCreateEvent);
using tDestroyEvent = decltype(&Quorvel::osDestroyEvent);

// The exported names of the two functions (the compilers here mangle alike on both systems).
const char kCreateEvent[] = "_ZN7Quorvel13osCreateEventEPNS_9cQV_ErrorEbRPv";
const char kDestroyEvent[] = "_ZN7Quorvel14osDestroyEventERPv";

int OneRound() {
#ifdef _WIN32
    HMODULE lib = LoadLibraryA("qv_os.dll");
    if (!lib) return 4;
    auto create = reinterpret_cast<tCreateEvent>(
        reinterpret_cast<void (*)()>(GetProcAddress(lib, kCreateEvent)));
    auto destroy = reinterpret_cast<tDestroyEvent>(
        reinterpret_cast<void (*)()>(GetProcAddress(lib, kDestroyEvent)));
#else
    void *lib = dlopen(QV_OS_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
    if (!lib) return 4;
    auto create = reinterpret_cast<tCreateEvent>(dlsym(lib, kCreateEvent));
    auto destroy = reinterpret_cast<tDestroyEvent>(dlsym(lib, kDestroyEvent));
#endif
    int result = 0;
    if (!create || !destroy) {
        result = 4;
    } else {
        void *event = nullptr;
        if (!create(nullptr, true, event) || !event) result = 5;
        destroy(event);
    }
#ifdef _WIN32
    FreeLibrary(lib);
#else
    dlclose(lib);
#endif
    return result;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    const int count = std::atoi(argv[1]);
    for (int i = 0; i < count; ++i) {
        std::packaged_task<int()> task(OneRound);
        std::future<int> done = task.get_future();
        std::thread worker(std::move(task));
        if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            std::fprintf(stderr, "round %d hung\n", i);
            std::fflush(stderr);
            std::_Exit(3);
        }
        worker.join();
        if (const int r = done.get()) {
            std::fprintf(stderr, "round %d failed with %d\n", i, r);
            return r;
        }
    }
    return 0;
}
