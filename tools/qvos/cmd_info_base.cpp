// qvos info: the foundation section (strings, numbers, errors).
#include <cstdio>

#include "qv_os.h"
#include "qvos.h"

using namespace Quorvel;

namespace {

void BaseInfo(std::FILE *out) {
    char num[32];
    cQV_DataConv::DblToStr(1.0 / 3.0, num);
    char b64[8] = {0};
    cQV_DataConv::LongToStr64(-2147483647 - 1, b64);
    cQV_Error e;
    e.SetFormat(3, "osio", 1, "Failed to delete file [%s]. %s", "example.txt",
                static_cast<const char *>(osGetSysErrorStr(2)));
    std::fprintf(out, "qv_os %s\n", QVOS_VERSION);
    std::fprintf(out, "foundation:\n");
    std::fprintf(out, "  double text        1/3 -> %s\n", num);
    std::fprintf(out, "  base-64 integer    -2147483648 -> %s\n", b64);
    std::fprintf(out, "  system error 2     %s\n", static_cast<const char *>(osGetSysErrorStr(2)));
    std::fprintf(out, "  error record text  %s\n", static_cast<const char *>(e.ToString()));
}

QVOS_INFO(BaseInfo, 0);

} // namespace
