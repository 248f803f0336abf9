// qvos uid: new identifiers in their text form.
#include <cstdio>
#include <cstdlib>

#include "qv_os.h"
#include "qvos.h"

using namespace Quorvel;

namespace {

// At most one identifier per millisecond is made: a million takes about a quarter of an hour.
constexpr long kMostIdentifiers = 1000000;

int Uid(int argc, char **argv) {
    if (argc > 2) return qvos::UsageError("uid");
    long count = 1;
    if (argc == 2) {
        char *end = nullptr;
        count = std::strtol(argv[1], &end, 10);
        if (end == argv[1] || *end != '\0' || count < 1 || count > kMostIdentifiers)
            return qvos::UsageError("uid");
    }
    for (long i = 0; i < count; ++i) {
        cQV_Uid uid;
        uid.Generate();
        const cQV_String text = uid.ToString();
        if (text.Length() == 0) {
            std::fprintf(stderr, "qvos uid: out of memory\n");
            return qvos::kLibraryError;
        }
        std::printf("%s\n", static_cast<const char *>(text));
    }
    return qvos::kOk;
}

QVOS_COMMAND("uid", "uid [N]              N new identifiers (default 1), one per line", Uid);

} // namespace
