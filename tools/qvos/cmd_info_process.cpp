// qvos info: the calling process (its id and the account it runs as).
#include <cstdio>

#include "qv_os.h"
#include "qvos.h"

using namespace Quorvel;

namespace {

void ProcessInfo(std::FILE *out) {
    cQV_String user;
    const bool haveUser = osGetCurrentProcessUser(user);
    std::fprintf(out, "process:\n");
    std::fprintf(out, "  id                 %u\n", osGetCurrentProcessId());
    std::fprintf(out, "  user               %s\n",
                 haveUser ? static_cast<const char *>(user) : "(no name)");
}

QVOS_INFO(ProcessInfo, 63);

} // namespace
