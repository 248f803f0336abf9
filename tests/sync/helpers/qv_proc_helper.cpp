// Child program for the process tests.
//   qv_proc_helper --sleep MS        sleeps MS milliseconds, exits 0
//   qv_proc_helper --exit CODE [MS]  sleeps MS milliseconds (default 0), exits CODE
//   qv_proc_helper --main-ends MS    (POSIX) the main thread ends at once, another thread ends
//                                    the process after MS milliseconds
//   qv_proc_helper [ARG...]          writes a report to the file that the
//                                    environment variable QV_PROC_HELPER_OUT names
// The report is a list of NUL-terminated fields: current folder, the raw command
// line (Windows; empty elsewhere), descriptors open beyond 0..2 (blank-separated;
// on Windows, for every argument "h=VALUE" naming a handle value in decimal that is
// open in this process, "VALUE=IDENTITY" as qvtest::HandleIdentity gives it),
// "1" when the process leads its own session, the number of ignored signals, the
// number of blocked signals, then every argument after the program name.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <windows.h>

#include "../../support/handle_identity.h"
#else
#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace {

void SleepMs(long ms) {
#ifdef _WIN32
    Sleep(static_cast<DWORD>(ms));
#else
    usleep(static_cast<useconds_t>(ms) * 1000);
#endif
}

std::string CurrentFolder() {
    char buf[4096];
#ifdef _WIN32
    return _getcwd(buf, sizeof buf) ? buf : "";
#else
    return getcwd(buf, sizeof buf) ? buf : "";
#endif
}

std::string RawCommandLine() {
#ifdef _WIN32
    return GetCommandLineA();
#else
    return "";
#endif
}

std::string ExtraDescriptors(int argc, char **argv) {
    std::string list;
#ifdef _WIN32
    // Which values are open is settled before anything here opens a handle of its own; only then
    // is the socket library loaded, which a socket's identity needs, and which takes free values.
    std::vector<HANDLE> open;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "h=", 2) != 0) continue;
        HANDLE h = reinterpret_cast<HANDLE>(
            static_cast<uintptr_t>(std::strtoull(argv[i] + 2, nullptr, 10)));
        DWORD flags = 0;
        if (GetHandleInformation(h, &flags)) open.push_back(h);
    }
    if (open.empty()) return list;
    if (HMODULE ws = LoadLibraryA("ws2_32.dll")) {
        using StartupFn = int(WINAPI *)(WORD, void *);
        FARPROC p = GetProcAddress(ws, "WSAStartup");
        StartupFn startup = nullptr;
        std::memcpy(&startup, &p, sizeof startup);
        // Room for the service's description, whatever the size of its record.
        static unsigned char data[1024];
        if (startup) startup(0x0202, data);
    }
    for (HANDLE h : open) {
        list += list.empty() ? "" : " ";
        list += std::to_string(reinterpret_cast<uintptr_t>(h)) + "=" + qvtest::HandleIdentity(h);
    }
#else
    (void)argc;
    (void)argv;
    DIR *dir = opendir("/proc/self/fd");
    if (!dir) return "?";
    const int own = dirfd(dir);
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const int fd = std::atoi(e->d_name);
        if (fd > 2 && fd != own) list += (list.empty() ? "" : " ") + std::string(e->d_name);
    }
    closedir(dir);
#endif
    return list;
}

std::string SessionLeader() {
#ifdef _WIN32
    return "1";
#else
    return getsid(0) == getpid() ? "1" : "0";
#endif
}

void CountSignals(int &ignored, int &blocked) {
    ignored = blocked = 0;
#ifndef _WIN32
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    for (int sig = 1; sig < 32; ++sig) {
        struct sigaction sa;
        if (sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler == SIG_IGN) ++ignored;
        if (sigismember(&mask, sig) == 1) ++blocked;
    }
#endif
}

} // namespace

#ifndef _WIN32
static void *SleepThenExit(void *ms) {
    SleepMs(*static_cast<long *>(ms));
    std::exit(0);
}
#endif

int main(int argc, char **argv) {
#ifndef _WIN32
    if (argc >= 3 && !std::strcmp(argv[1], "--main-ends")) {
        static long ms = std::atol(argv[2]);
        pthread_t thread;
        if (pthread_create(&thread, nullptr, SleepThenExit, &ms) != 0) return 3;
        pthread_exit(nullptr);
    }
#endif
    if (argc >= 3 && !std::strcmp(argv[1], "--sleep")) {
        SleepMs(std::atol(argv[2]));
        return 0;
    }
    if (argc >= 3 && !std::strcmp(argv[1], "--exit")) {
        if (argc >= 4) SleepMs(std::atol(argv[3]));
        return std::atoi(argv[2]);
    }
    const char *out = std::getenv("QV_PROC_HELPER_OUT");
    if (!out || !*out) return 2;
    int ignored, blocked;
    CountSignals(ignored, blocked);
    std::string report;
    for (const std::string &field :
         {CurrentFolder(), RawCommandLine(), ExtraDescriptors(argc, argv), SessionLeader(),
          std::to_string(ignored), std::to_string(blocked)})
        report.append(field).push_back('\0');
    for (int i = 1; i < argc; ++i)
        report.append(argv[i]).push_back('\0');
    // Written under another name and renamed, so a reader sees all or nothing.
    const std::string tmp = std::string(out) + ".part";
    FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f) return 3;
    const bool ok = std::fwrite(report.data(), 1, report.size(), f) == report.size();
    if (std::fclose(f) != 0 || !ok) return 3;
    std::remove(out);
    return std::rename(tmp.c_str(), out) == 0 ? 0 : 3;
}
