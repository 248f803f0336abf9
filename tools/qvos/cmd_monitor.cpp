// qvos monitor: a live table of the machine's and a process's load, one line per interval.
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qv_os.h"
#include "qvos.h"

using namespace Quorvel;

namespace {

std::atomic<bool> gStop{false};

extern "C" void OnInterrupt(int) {
    gStop.store(true);
}

bool ParseCount(const char *s, unsigned long max, unsigned &value) {
    if (!s || !*s || *s == '-' || *s == '+') return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(s, &end, 10);
    if (*end || errno || v > max) return false;
    value = static_cast<unsigned>(v);
    return true;
}

// Waits one interval in short steps, so that Ctrl-C ends the table at once.
void Wait(unsigned ms) {
    while (ms > 0 && !gStop.load()) {
        const unsigned step = ms < 50 ? ms : 50;
        osSleep(step);
        ms -= step;
    }
}

unsigned long long NowNs() {
    return static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count());
}

long long MiB(long long bytes) {
    return bytes / (1024 * 1024);
}

int Monitor(int argc, char **argv) {
    unsigned interval = 1000, count = 0, pid = 0;
    bool otherProcess = false;
    for (int i = 1; i < argc; ++i) {
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!std::strcmp(argv[i], "-i") && ParseCount(value, 3600000, interval) && interval > 0)
            ++i;
        else if (!std::strcmp(argv[i], "-n") && ParseCount(value, 0xFFFFFFFFul, count))
            ++i;
        else if (!std::strcmp(argv[i], "-p") && ParseCount(value, 0xFFFFFFFFul, pid) && pid > 0)
            ++i, otherProcess = true;
        else
            return qvos::UsageError("monitor");
    }

    cQV_Error err;
    iQV_SysLoadMon *sys =
        iQV_SysLoadMon::Create(&err, eSysLoadCpu | eSysLoadRam | eSysLoadSwap | eSysLoadSwapMax);
    if (!sys) {
        std::fprintf(stderr, "qvos monitor: %s\n", static_cast<const char *>(err.text));
        return qvos::kLibraryError;
    }
    iQV_ProcStatMon *proc = nullptr;
    cQV_SysTime lastTime;
    unsigned long long lastWall = 0;
    if (otherProcess) {
        if (!osGetProcessTime(pid, lastTime)) {
            std::fprintf(stderr, "qvos monitor: cannot read the times of process %u\n", pid);
            delete sys;
            return qvos::kNotFound;
        }
        lastWall = NowNs();
    } else {
        proc = iQV_ProcStatMon::Create(&err);
        // The first line covers one interval, not the whole life of this process.
        if (!proc || !proc->Collect(&err)) {
            std::fprintf(stderr, "qvos monitor: %s\n", static_cast<const char *>(err.text));
            delete proc;
            delete sys;
            return qvos::kLibraryError;
        }
    }
    // A baseline for the system's processor load at the start of the first interval.
    sys->Collect(nullptr);

    std::signal(SIGINT, OnInterrupt);
    std::printf("%8s %14s %15s %15s %9s %11s %15s\n", "sys-cpu%", "ram-avail-MiB", "swap-avail-MiB",
                "swap-limit-MiB", "proc-cpu%", "page-faults", "working-set-KiB");
    std::fflush(stdout);
    int rc = qvos::kOk;
    for (unsigned line = 0; (count == 0 || line < count) && !gStop.load(); ++line) {
        Wait(interval);
        if (gStop.load()) break;
        if (!sys->Collect(&err)) {
            std::fprintf(stderr, "qvos monitor: %s\n", static_cast<const char *>(err.text));
            rc = qvos::kLibraryError;
            break;
        }
        std::printf("%8d %14lld %15lld %15lld", sys->GetCpuLoad(nullptr),
                    MiB(sys->GetRamAvail(nullptr)), MiB(sys->GetSwapAvail(nullptr)),
                    MiB(sys->GetSwapMax(nullptr)));
        if (otherProcess) {
            cQV_SysTime now;
            if (!osGetProcessTime(pid, now)) {
                std::printf("\n");
                std::fprintf(stderr, "qvos monitor: process %u has ended\n", pid);
                rc = qvos::kNotFound;
                break;
            }
            const unsigned long long wall = NowNs();
            const unsigned long long span =
                (wall - lastWall) * static_cast<unsigned long long>(cQV_SysInfo::GetCpuCount());
            const unsigned long long used = now.nanoseconds - lastTime.nanoseconds;
            const int load = span ? static_cast<int>(used * 100.0 / span + 0.5) : 0;
            std::printf(" %9d %11s %15s\n", load > 100 ? 100 : load, "-", "-");
            lastTime = now;
            lastWall = wall;
        } else {
            if (!proc->Collect(&err)) {
                std::printf("\n");
                std::fprintf(stderr, "qvos monitor: %s\n", static_cast<const char *>(err.text));
                rc = qvos::kLibraryError;
                break;
            }
            std::printf(" %9d %11d %15llu\n", proc->GetProcCpuLoad(nullptr),
                        proc->GetProcPageFaultCount(), proc->GetProcMemoryLoad() / 1024);
        }
        std::fflush(stdout);
    }
    std::signal(SIGINT, SIG_DFL);
    delete proc;
    delete sys;
    return rc;
}

QVOS_COMMAND("monitor",
             "monitor [-i MS] [-n COUNT] [-p PID]\n"
             "                     a line of system and process load every MS milliseconds "
             "(1000),\n"
             "                     COUNT lines (0: until Ctrl-C), for this or PID's process",
             Monitor);

} // namespace
