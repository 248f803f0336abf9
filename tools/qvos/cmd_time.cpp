// qvos time: the current time in every text form of the time values.
#include <cinttypes>
#include <cstdio>

#include "qv_os.h"
#include "qvos.h"

using namespace Quorvel;

namespace {

int Time(int argc, char **) {
    if (argc != 1) return qvos::UsageError("time");
    cQV_SysTime now;
    now.GetSysTime();
    tTimeb timeb;
    timeb.GetTime();
    cQV_DateTime local;
    local = now;
    const unsigned seconds = osGetSysTime();

    std::printf("cQV_SysTime             %" PRIu64 " ns since 1970-01-01 00:00:00 UTC\n",
                now.nanoseconds);
    std::printf("  ToString              %s\n", static_cast<const char *>(now.ToString()));
    std::printf("  FormatTime            %s\n", static_cast<const char *>(now.FormatTime()));
    std::printf("  FormatTimeShort       %s (UTC)\n",
                static_cast<const char *>(now.FormatTimeShort()));
    std::printf("cQV_DateTime            %s, week day %d\n",
                static_cast<const char *>(local.ToString()), local.weekDay);
    std::printf("tTimeb                  %d s %d ms\n", static_cast<int>(timeb.sec), timeb.ms);
    std::printf("  ToString              %s\n", static_cast<const char *>(timeb.ToString()));
    std::printf("osGetSysTime            %u\n", seconds);
    // The text ends with its own line feed.
    std::printf("osGetLocalTimeStr       %s", static_cast<const char *>(osGetLocalTimeStr()));
    std::printf("osGetLocalShortTimeStr  %s\n",
                static_cast<const char *>(osGetLocalShortTimeStr()));
    return qvos::kOk;
}

QVOS_COMMAND("time", "time                 the current time in every text form", Time);

} // namespace
