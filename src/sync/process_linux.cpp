// Processes on Linux: posix_spawnp without a shell, reaping of our own children, and /proc for
// processes that are not ours.
#include "process_os.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace Quorvel::detail {

namespace {

// Children started by PlatformCreateProcess that have not been reaped yet. Only these are ever
// reaped here: waiting for any other child would steal its exit status from the code that started
// it.
std::mutex g_childLock;
std::vector<pid_t> g_children;

// An id above INT_MAX becomes a negative pid_t, which waitpid and kill take as a process group (-1
// meaning every process): such ids name no process.
bool ToPid(unsigned id, pid_t &pid) {
    if (id == 0 || id > static_cast<unsigned>(INT_MAX)) return false;
    pid = static_cast<pid_t>(id);
    return true;
}

pid_t WaitNoHang(pid_t pid) {
    int status = 0;
    pid_t r;
    do
        r = waitpid(pid, &status, WNOHANG);
    while (r < 0 && errno == EINTR);
    return r;
}

// Reaps every tracked child that has ended, so that children nobody asks about do not pile up as
// zombies. The caller holds g_childLock.
void ReapEndedChildrenLocked() {
    for (size_t i = 0; i < g_children.size();) {
        if (WaitNoHang(g_children[i]) == 0) {
            ++i;
            continue;
        }
        // Ended and reaped now, or no longer our child (reaped elsewhere).
        g_children[i] = g_children.back();
        g_children.pop_back();
    }
}

enum class eProcState { Missing, Ended, Running, Unknown };

// Reads the state of `pid` from /proc. A thread id that is not a process id (its thread group id
// differs) counts as missing. A zombie whose other threads still run is a process whose main thread
// has ended, not an ended process.
eProcState ReadProcState(pid_t pid) {
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ESRCH ? eProcState::Missing : eProcState::Unknown;
    // The status text is about 1.5 KiB; the lines read here lie well inside 4 KiB.
    char buf[4096];
    size_t len = 0;
    while (len < sizeof buf - 1) {
        const ssize_t n = read(fd, buf + len, sizeof buf - 1 - len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        len += static_cast<size_t>(n);
    }
    close(fd);
    buf[len] = '\0';

    char state = 0;
    long tgid = -1, threads = 0;
    for (const char *line = buf; line && *line;) {
        if (!std::strncmp(line, "State:", 6)) {
            const char *s = line + 6;
            while (*s == ' ' || *s == '\t')
                ++s;
            state = *s;
        } else if (!std::strncmp(line, "Tgid:", 5)) {
            tgid = std::strtol(line + 5, nullptr, 10);
        } else if (!std::strncmp(line, "Threads:", 8)) {
            threads = std::strtol(line + 8, nullptr, 10);
        }
        line = std::strchr(line, '\n');
        if (line) ++line;
    }
    if (!state || tgid < 0) return len ? eProcState::Unknown : eProcState::Missing;
    if (tgid != pid) return eProcState::Missing;
    if (state == 'X' || state == 'x') return eProcState::Ended;
    if (state == 'Z' && threads <= 1) return eProcState::Ended;
    return eProcState::Running;
}

// True when `pid` exists, without /proc's view of it.
bool SignalProbe(pid_t pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

// posix_spawn attribute and file-action objects released on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    bool haveActions = false;
    bool haveAttr = false;

    int Init() {
        int rc = posix_spawn_file_actions_init(&actions);
        if (rc) return rc;
        haveActions = true;
        // Only 0, 1 and 2 reach the program, whatever the rest of the process opened without
        // close-on-exec.
        rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        if (rc) return rc;
        rc = posix_spawnattr_init(&attr);
        if (rc) return rc;
        haveAttr = true;
        // A session of its own detaches the child from our terminal and its signals; a fresh signal
        // state keeps our ignored or blocked signals (SIGPIPE, commonly) from leaking into an
        // unrelated program.
        sigset_t all, none;
        sigfillset(&all);
        sigemptyset(&none);
        rc = posix_spawnattr_setsigdefault(&attr, &all);
        if (!rc) rc = posix_spawnattr_setsigmask(&attr, &none);
        if (!rc)
            rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF |
                                                     POSIX_SPAWN_SETSIGMASK);
        return rc;
    }

    ~SpawnSetup() {
        if (haveAttr) posix_spawnattr_destroy(&attr);
        if (haveActions) posix_spawn_file_actions_destroy(&actions);
    }
};

} // namespace

int PlatformNoProgramError() {
    return ENOENT;
}

int PlatformNoMemoryError() {
    return ENOMEM;
}

unsigned PlatformCreateProcess(const char *commandLine, const char *, int &sysError) {
    std::vector<std::string> args;
    std::vector<char *> argv;
    if (!SplitCommandLine(commandLine, args)) {
        sysError = ENOMEM;
        return 0;
    }
    if (args.empty() || args[0].empty()) {
        sysError = ENOENT;
        return 0;
    }
    try {
        argv.reserve(args.size() + 1);
    } catch (const std::bad_alloc &) {
        sysError = ENOMEM;
        return 0;
    }
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    SpawnSetup setup;
    int rc = setup.Init();
    if (rc) {
        sysError = rc;
        return 0;
    }
    // posix_spawnp reports a program that cannot be executed (missing, not executable, not a binary
    // or interpreter script) as its own result, and never hands a file to a shell.
    pid_t pid = 0;
    rc = posix_spawnp(&pid, argv[0], &setup.actions, &setup.attr, argv.data(), environ);
    if (rc) {
        sysError = rc;
        return 0;
    }

    std::lock_guard<std::mutex> lock(g_childLock);
    ReapEndedChildrenLocked();
    try {
        g_children.push_back(pid);
    } catch (const std::bad_alloc &) {
        // Untracked, the child is still reported correctly (a zombie counts as ended); it is only
        // left for the process to reap.
    }
    return static_cast<unsigned>(pid);
}

bool PlatformIsProcessRunning(unsigned id) {
    pid_t pid;
    if (!ToPid(id, pid)) return false;
    {
        std::lock_guard<std::mutex> lock(g_childLock);
        const auto it = std::find(g_children.begin(), g_children.end(), pid);
        if (it != g_children.end()) {
            const pid_t r = WaitNoHang(pid);
            if (r == 0) return true;
            *it = g_children.back();
            g_children.pop_back();
            if (r == pid) return false;
            // ECHILD: reaped by someone else, or we are a fork of the process that started it.
            // /proc knows.
        }
    }
    switch (ReadProcState(pid)) {
    case eProcState::Running:
        return true;
    case eProcState::Missing:
    case eProcState::Ended:
        return false;
    case eProcState::Unknown:
        break;
    }
    return SignalProbe(pid);
}

eKillResult PlatformKillProcess(unsigned id, unsigned, int &sysError) {
    pid_t pid;
    if (!ToPid(id, pid) || ReadProcState(pid) == eProcState::Missing) {
        sysError = ESRCH;
        return eKillResult::OpenFailed;
    }
    // The probe stands for opening the process: it fails when the process is gone or we may not
    // signal it.
    if (kill(pid, 0) != 0) {
        sysError = errno;
        return eKillResult::OpenFailed;
    }
    if (kill(pid, SIGKILL) != 0) {
        sysError = errno;
        return eKillResult::KillFailed;
    }
    return eKillResult::Killed;
}

unsigned PlatformGetCurrentProcessId() {
    return static_cast<unsigned>(getpid());
}

bool PlatformGetCurrentProcessUser(cQV_String &user) {
    const uid_t uid = geteuid();
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    size_t size = hint > 0 ? static_cast<size_t>(hint) : 1024;
    for (;;) {
        std::unique_ptr<char[]> buf(new (std::nothrow) char[size]);
        if (!buf) return false;
        passwd pw;
        passwd *found = nullptr;
        const int rc = getpwuid_r(uid, &pw, buf.get(), size, &found);
        if (rc == ERANGE && size < (1u << 20)) {
            size *= 2;
            continue;
        }
        if (rc || !found || !found->pw_name || !*found->pw_name) return false;
        user = found->pw_name;
        // Assignment keeps the old text when it cannot allocate.
        return std::strcmp(user, found->pw_name) == 0;
    }
}

void PlatformSetSilentErrorMode() {
    // POSIX systems show no error dialogs: nothing to switch off.
}

} // namespace Quorvel::detail
