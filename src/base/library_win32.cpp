// Windows DLL entry point. It runs under the loader lock and does no work of its own: the load
// sequence (library.cpp) runs from the runtime's start-up code before it, and only calls that are
// safe under the loader lock belong there.
//
// Per-thread notifications: the request below to switch them off is refused for this image,
// because the runtime linked into it statically (threads, emulated thread-local variables) keeps
// static thread-local storage with callbacks that free each ending thread's share of it. The
// notifications therefore still arrive; this entry point ignores them. The request stays so that
// an image without such storage does get them switched off.
#include "library.h"

#include <windows.h>

namespace Quorvel::detail {

const bool kPlatformDefersLoaderWork = true;

} // namespace Quorvel::detail

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
