// qvos info: the file-system section (standard folders).
#include <cstdio>

#include "qv_file.h"
#include "qvos.h"

using namespace Quorvel;

namespace {

void IoInfo(std::FILE *out) {
    cQV_String wdir;
    bool hasWdir = osGetEnv("WDIR", wdir);
    std::fprintf(out, "file system:\n");
    std::fprintf(out, "  temporary folder   %s\n", static_cast<const char *>(osGetTemp()));
    std::fprintf(out, "  WDIR               %s\n",
                 hasWdir ? static_cast<const char *>(wdir) : "(not set)");
    std::fprintf(out, "  log folder         %s\n", static_cast<const char *>(osGetLogDir()));
}

QVOS_INFO(IoInfo, 52);

} // namespace
