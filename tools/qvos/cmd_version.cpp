// qvos version: the program's and the library's version.
#include <cstdio>

#include "qvos.h"

namespace {

int Version(int argc, char **) {
    if (argc != 1) return qvos::UsageError("version");
    std::printf("qvos %s\n", QVOS_VERSION);
    return qvos::kOk;
}

QVOS_COMMAND("version", "version              print the version", Version);

} // namespace
