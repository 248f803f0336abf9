// A system monitor: the machine's facts once, then its load and this process's load every second.
//
//   system_monitor [SECONDS]    samples once a second for SECONDS seconds (default 60)
//
// The monitors sample only when Collect is called; the getters then report the interval between
// the last two samples (processor load, page faults) or the state at the last one (memory). A
// getter that fails returns 0 and says why in the error record, so each figure is checked.
#include <qv_os.h>

#include <cstdio>
#include <cstdlib>

using namespace Quorvel;

namespace {

const double kMiB = 1024.0 * 1024.0;

// Prints a byte count in MiB, or the getter's failure.
void PrintBytes(const char *label, long long bytes, cQV_Error &err) {
    if (err.IsError())
        std::printf("  %s ?(%s)", label, (const char *)err.text);
    else
        std::printf("  %s %8.1f MiB", label, double(bytes) / kMiB);
    err.Reset();
}

} // namespace

int main(int argc, char **argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (argc > 2 || seconds < 1) {
        std::fprintf(stderr, "usage: system_monitor [SECONDS]\n");
        return 2;
    }

    // The facts, read once while the library was loaded.
    const unsigned long long ram = cQV_SysInfo::GetRamSize();
    std::printf("host:       %s (%s)\n", cQV_SysInfo::GetHostTypeStr(cQV_SysInfo::GetHostType()),
                (const char *)cQV_SysInfo::GetOsShortName());
    std::printf("system:     %s\n", (const char *)cQV_SysInfo::GetOsLongName());
    std::printf("processor:  %d x %s, %d MHz\n", cQV_SysInfo::GetCpuCount(),
                (const char *)cQV_SysInfo::GetCpuName(), cQV_SysInfo::GetCpuSpeed());
    std::printf("memory:     %.1f MiB\n", double(ram) / kMiB);

    cQV_Error err;
    // Create takes the first samples, so the first Collect below already covers one interval.
    iQV_SysLoadMon *system =
        iQV_SysLoadMon::Create(&err, eSysLoadCpu | eSysLoadRam | eSysLoadSwap | eSysLoadSwapMax);
    if (!system) {
        std::fprintf(stderr, "cannot monitor the system: %s\n", (const char *)err.text);
        return 1;
    }
    iQV_ProcStatMon *process = iQV_ProcStatMon::Create(&err);
    if (!process) {
        std::fprintf(stderr, "cannot monitor this process: %s\n", (const char *)err.text);
        delete system;
        return 1;
    }

    int status = 0;
    for (int second = 1; second <= seconds; ++second) {
        osSleep(1000);
        if (!system->Collect(&err) || !process->Collect(&err)) {
            std::fprintf(stderr, "cannot take a sample: %s\n", (const char *)err.text);
            status = 1;
            break;
        }

        std::printf("%s", (const char *)osGetLocalShortTimeStr());
        const int cpu = system->GetCpuLoad(&err);
        if (err.IsError())
            std::printf("  cpu ?(%s)", (const char *)err.text);
        else
            std::printf("  cpu %3d%%", cpu);
        err.Reset();
        PrintBytes("ram free", system->GetRamAvail(&err), err);
        const long long swapFree = system->GetSwapAvail(&err);
        const bool swapKnown = err.IsNotError();
        PrintBytes("swap free", swapFree, err);
        const long long swapMax = system->GetSwapMax(&err);
        if (swapKnown && err.IsNotError()) {
            if (swapMax > 0)
                std::printf(" of %.1f MiB", double(swapMax) / kMiB);
            else
                std::printf(" (no swap)");
        }
        err.Reset();

        // The process: its share of all processors, its faults in the last second, its size now.
        const int own = process->GetProcCpuLoad(&err);
        if (err.IsError())
            std::printf("  | own cpu ?(%s)", (const char *)err.text);
        else
            std::printf("  | own cpu %3d%%", own);
        err.Reset();
        std::printf("  faults %5d  working set %.1f MiB\n", process->GetProcPageFaultCount(),
                    double(process->GetProcMemoryLoad()) / kMiB);
        std::fflush(stdout);
    }

    delete process;
    delete system;
    return status;
}
