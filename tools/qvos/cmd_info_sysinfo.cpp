// qvos info: the machine's processor, memory and operating system as read at load.
#include <cstdio>

#include "qv_os.h"
#include "qvos.h"

using namespace Quorvel;

namespace {

void SysInfo(std::FILE *out) {
    const int mhz = cQV_SysInfo::GetCpuSpeed();
    std::fprintf(out, "machine:\n");
    std::fprintf(out, "  processors         %d\n", cQV_SysInfo::GetCpuCount());
    std::fprintf(out, "  processor          %s\n",
                 static_cast<const char *>(cQV_SysInfo::GetCpuName()));
    if (mhz)
        std::fprintf(out, "  clock              %d MHz\n", mhz);
    else
        std::fprintf(out, "  clock              unknown\n");
    std::fprintf(out, "  memory             %llu bytes (%llu MiB)\n", cQV_SysInfo::GetRamSize(),
                 cQV_SysInfo::GetRamSize() >> 20);
    std::fprintf(out, "  system             %s\n",
                 static_cast<const char *>(cQV_SysInfo::GetOsShortName()));
    std::fprintf(out, "  system (long)      %s\n",
                 static_cast<const char *>(cQV_SysInfo::GetOsLongName()));
    std::fprintf(out, "  host type          %s\n",
                 cQV_SysInfo::GetHostTypeStr(cQV_SysInfo::GetHostType()));
}

QVOS_INFO(SysInfo, 70);

} // namespace
