// Processes: start a short program and wait until it has ended.
#include "bench_table.h"
#include "qv_process.h"

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <sched.h>

extern char **environ;

namespace {

const char kProgram[] = "/bin/true";

// Waiting means asking osIsProcessExist until it says no, as a caller of the library does,
// yielding the processor between questions so that a child waiting for a core gets it. A timed
// pause would measure the timer instead: on this kind of machine a 50 us nanosleep lasts several
// hundred microseconds, as long as the start itself.
void StartAndWaitOurs(benchmark::State &state) {
    for (auto _ : state) {
        unsigned pid =
            Quorvel::osCreateProcess(nullptr, kProgram, nullptr, nullptr, nullptr, nullptr);
        if (!pid) {
            state.SkipWithError("osCreateProcess failed");
            return;
        }
        while (Quorvel::osIsProcessExist(pid))
            sched_yield();
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
