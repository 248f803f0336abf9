// Processes: start a short program and wait until it has ended.
#include "bench_table.h"
#include "qv_process.h"

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

namespace {

const char kProgram[] = "/bin/true";

// Waiting means asking osIsProcessExist until it says no, as a caller of the library does, with a
// 50 us pause between questions: spinning would take the processor from the child on a busy
// machine, and a millisecond pause would dwarf a start that itself takes about one.
void StartAndWaitOurs(benchmark::State &state) {
    for (auto _ : state) {
        unsigned pid =
            Quorvel::osCreateProcess(nullptr, kProgram, nullptr, nullptr, nullptr, nullptr);
        if (!pid) {
            state.SkipWithError("osCreateProcess failed");
            return;
        }
        while (Quorvel::osIsProcessExist(pid)) {
            const timespec pause = {0, 50000};
            nanosleep(&pause, nullptr);
        }
    }
}

void StartAndWaitPeer(benchmark::State &state) {
    char *argv[] = {const_cast<char *>(kProgram), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawn(&pid, kProgram, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("posix_spawn failed");
            return;
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

} // namespace

QV_BENCH_ROW(process_start, "process start /bin/true + wait until ended", "<= 1.2x time",
             StartAndWaitOurs, StartAndWaitPeer);
#endif
