// qvos info: time and threads as this machine gives them to the calling thread.
#include <cstdio>

#include "qv_os.h"
#include "qvos.h"

using namespace Quorvel;

namespace {

void TimeAndThreadInfo(std::FILE *out) {
    std::fprintf(out, "time:\n");
    // The local time text ends with its own line feed.
    std::fprintf(out, "  local time         %s", static_cast<const char *>(osGetLocalTimeStr()));
    std::fprintf(out, "  seconds since 1970 %u\n", osGetSysTime());
    std::fprintf(out, "threads:\n");
    std::fprintf(out, "  thread id          %u\n", osGetCurrentThreadId());
    std::fprintf(out, "  priority           %d (-2 lowest .. 2 highest)\n", osGetPriority());
    void *signalled = osGetSignalledEvent(), *unsignalled = osGetNonSignalledEvent();
    std::fprintf(out, "  shared events      %s\n",
                 signalled && unsignalled ? "created at load" : "missing");
}

QVOS_INFO(TimeAndThreadInfo, 10);

} // namespace
