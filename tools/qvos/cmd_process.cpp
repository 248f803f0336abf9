// qvos process: start a program, ask whether a process runs, end one.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qv_os.h"
#include "qvos.h"

using namespace Quorvel;

namespace {

// A whole decimal number that fits an unsigned process id or exit code.
bool ParseUnsigned(const char *s, unsigned &value) {
    if (!*s || *s == '-' || *s == '+') return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(s, &end, 10);
    if (*end || errno || v > 0xFFFFFFFFul) return false;
    value = static_cast<unsigned>(v);
    return true;
}

int Fail(const cQV_Error &err) {
    std::fprintf(stderr, "qvos process: %s\n", static_cast<const char *>(err.text));
    return qvos::kLibraryError;
}

int Process(int argc, char **argv) {
    if (argc < 2) return qvos::UsageError("process");
    const char *action = argv[1];
    cQV_Error err;
    if (!std::strcmp(action, "start") && (argc == 3 || argc == 4)) {
        // The arguments are one text, handed over as the caller wrote it.
        const unsigned pid = osCreateProcess(&err, argv[2], argc == 4 ? argv[3] : nullptr, nullptr,
                                             nullptr, nullptr);
        if (!pid) return Fail(err);
        std::printf("%u\n", pid);
        return qvos::kOk;
    }
    unsigned pid = 0;
    if (!std::strcmp(action, "alive") && argc == 3 && ParseUnsigned(argv[2], pid)) {
        const bool running = osIsProcessExist(pid);
        std::printf("%s\n", running ? "running" : "not running");
        return running ? qvos::kOk : qvos::kNotFound;
    }
    unsigned code = 0;
    if (!std::strcmp(action, "kill") && (argc == 3 || argc == 4) && ParseUnsigned(argv[2], pid) &&
        (argc == 3 || ParseUnsigned(argv[3], code))) {
        if (!osKillProcess(&err, pid, code)) return Fail(err);
        return qvos::kOk;
    }
    return qvos::UsageError("process");
}

QVOS_COMMAND("process",
             "process start COMMAND [ARGUMENTS] | alive PID | kill PID [EXIT-CODE]\n"
             "                     start a program (prints its id), ask whether it runs, end it",
             Process);

} // namespace
