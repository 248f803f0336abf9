// Processes on Linux: fork and exec with posix_spawnp's search rules and no shell, reaping of our
// own children, and /proc for processes that are not ours.
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
#include <sys/resource.h>
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

// Everything the child needs between fork and exec, prepared by the parent: the child may only make
// async-signal-safe calls, so it allocates nothing, reads no environment and takes no lock.
struct tSpawnPlan {
    std::vector<std::string> candidates; // the paths to try, in search order
    char **argv = nullptr;
    char **envp = nullptr;
    int errorFd = -1;     // the write end of the close-on-exec error pipe
    unsigned fdLimit = 0; // descriptors to close, from 0, when close_range is missing
    int searchError = 0;  // an error found before any path could be tried
};

// Fills plan.candidates like posix_spawnp: a name with a '/' is the one path tried; any other name
// is looked up in PATH (the system's default search path when PATH is unset), where an empty entry
// is the current folder. No candidate is ever handed to a shell.
bool PlanSearch(const char *file, tSpawnPlan &plan) {
    try {
        if (std::strchr(file, '/')) {
            plan.candidates.emplace_back(file);
            return true;
        }
        if (std::strlen(file) > NAME_MAX) {
            plan.searchError = ENAMETOOLONG;
            return true;
        }
        std::string path;
        if (const char *env = std::getenv("PATH")) {
            path = env;
        } else {
            const size_t n = confstr(_CS_PATH, nullptr, 0);
            path.assign(n ? n - 1 : 0, '\0');
            if (!n || confstr(_CS_PATH, &path[0], n) != n) path = "/bin:/usr/bin";
        }
        for (size_t start = 0;;) {
            const size_t colon = std::min(path.find(':', start), path.size());
            // Entries longer than a path can be are passed over, as the search in the C library
            // does.
            if (colon - start < PATH_MAX) {
                std::string candidate = path.substr(start, colon - start);
                if (!candidate.empty()) candidate += '/';
                candidate += file;
                plan.candidates.push_back(std::move(candidate));
            }
            if (colon == path.size()) break;
            start = colon + 1;
        }
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// Writes the reason for the failed start to the parent and ends the child. Async-signal-safe.
[[noreturn]] void ReportChildFailure(int fd, int error) {
    while (write(fd, &error, sizeof error) < 0 && errno == EINTR) {
    }
    _exit(127);
}

// The child between fork and exec; only async-signal-safe calls. It starts with every signal
// blocked, so no handler of the parent runs in it before the handlers are reset.
[[noreturn]] void RunChild(const tSpawnPlan &plan) {
    // Our handlers, and signals we ignore (SIGPIPE, commonly), must not reach an unrelated
    // program. SIGKILL and SIGSTOP refuse, which is harmless.
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &dfl, nullptr);

    // A session of its own detaches the child from our terminal and its signals.
    if (setsid() < 0) ReportChildFailure(plan.errorFd, errno);

    // Only 0, 1 and 2 reach the program, whatever the rest of the process opened without
    // close-on-exec; the error pipe closes itself at exec.
    const unsigned keep = static_cast<unsigned>(plan.errorFd);
    const auto closeRange = [&plan](unsigned first, unsigned last) {
        if (first > last) return;
        if (close_range(first, last, 0) == 0) return;
        for (unsigned fd = first; fd <= last && fd < plan.fdLimit; ++fd)
            close(static_cast<int>(fd));
    };
    if (keep >= 3) {
        closeRange(3, keep - 1);
        closeRange(keep + 1, ~0u);
    } else {
        closeRange(3, ~0u);
    }

    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    // The search rules of posix_spawnp: a candidate that is missing or may not be executed gives
    // way to the next; any other failure (a file that is no program, for one) ends the search. A
    // search that runs out reports a denied candidate before a missing one.
    int error = plan.searchError;
    bool denied = false;
    for (size_t i = 0; !error && i < plan.candidates.size(); ++i) {
        execve(plan.candidates[i].c_str(), plan.argv, plan.envp);
        switch (errno) {
        case EACCES:
            denied = true;
            break;
        case ENOENT:
        case ENOTDIR:
        case ESTALE:
        case ENODEV:
        case ETIMEDOUT:
            break;
        default:
            error = errno;
            break;
        }
    }
    if (!error) error = denied ? EACCES : ENOENT;
    ReportChildFailure(plan.errorFd, error);
}

// Starts the child and waits until it has either become the program or failed to. The failure
// comes back through a close-on-exec pipe rather than from posix_spawn, because where posix_spawn
// is built on a real fork (some C libraries, and emulators that turn its shared-memory clone into
// one) it reports success for a program that never ran. Returns the pid, or 0 with sysError set.
pid_t Spawn(tSpawnPlan &plan, int &sysError) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        sysError = errno;
        return 0;
    }
    plan.errorFd = pipeFds[1];

    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = fork();
    if (pid == 0) RunChild(plan);
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        sysError = forkError;
        return 0;
    }

    // End of file means that exec closed the pipe: the program runs.
    int childError = 0;
    size_t got = 0;
    while (got < sizeof childError) {
        const ssize_t n =
            read(pipeFds[0], reinterpret_cast<char *>(&childError) + got, sizeof childError - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(pipeFds[0]);
    if (got == 0) return pid;

    // The child ends right after its report; reap it, since nobody will ask about it.
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    sysError = got == sizeof childError && childError ? childError : ECHILD;
    return 0;
}

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

    tSpawnPlan plan;
    if (!PlanSearch(argv[0], plan)) {
        sysError = ENOMEM;
        return 0;
    }
    plan.argv = argv.data();
    plan.envp = environ;
    rlimit files = {};
    plan.fdLimit = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
                           files.rlim_cur < (1u << 20)
                       ? static_cast<unsigned>(files.rlim_cur)
                       : (1u << 20);
    const pid_t pid = Spawn(plan, sysError);
    if (!pid) return 0;

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
