#include "qv_process.h"
#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

using namespace Quorvel;
namespace fs = std::filesystem;

namespace {

// No wait in these tests lasts longer than this.
constexpr auto kBound = std::chrono::milliseconds(qvtest::kBoundMs);

#ifdef _WIN32
const char kHelperName[] = "qv_proc_helper.exe";
#else
const char kHelperName[] = "qv_proc_helper";
#endif

// The helper program lies beside the test program.
fs::path ExeDir() {
    return qvtest::ProgramDir();
}

// Polls until the process is reported gone; false when it still runs at the bound.
bool WaitUntilEnded(unsigned pid) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (osIsProcessExist(pid)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string ErrorText(int code) {
    return static_cast<const char *>(osGetSysErrorStr(code));
}

#ifndef _WIN32
// The state letter of /proc/<pid>/stat, or 0 when there is no such entry.
char ProcState(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? 0 : text[close + 2];
}

// Waits until the child has ended but is not reaped yet (or, with orGone, is reaped as well).
bool WaitUntilZombie(pid_t pid, bool orGone = false) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    for (char state; (state = ProcState(pid)) != 'Z' && !(orGone && state == 0);) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Waits until our child can be reaped, without reaping it (or, with orGone, until it is reaped
// already). A 'Z' in /proc does not show this: it is the state of the main thread, and a process
// whose other threads are still ending (every process under some emulators has two) is not
// reapable yet.
bool WaitUntilReapable(pid_t pid, bool orGone = false) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    for (;;) {
        siginfo_t info = {};
        const int r = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (r == 0 && info.si_pid == pid) return true;
        if (r < 0 && errno != EINTR) return orGone && errno == ECHILD;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Reaps the child ourselves within the bound; its wait status, or -1.
int ReapWithin(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0 || std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
#endif

struct HelperReport {
    std::string cwd, commandLine, extraFds, sessionLeader, ignoredSignals, blockedSignals;
    std::vector<std::string> args;
};

// Each test runs in a fresh folder that is also the current folder, so anything a child
// creates by mistake shows up there.
class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        tmp_ = std::make_unique<qvtest::TempDir>("qv_proc");
        dir_ = tmp_->path();
        oldCwd_ = fs::current_path();
        fs::current_path(dir_);
        qvtest::SetEnv("QV_PROC_HELPER_OUT", (dir_ / "report").string().c_str());
        helper_ = "\"" + (ExeDir() / kHelperName).string() + "\"";
    }

    void TearDown() override {
        qvtest::UnsetEnv("QV_PROC_HELPER_OUT");
        fs::current_path(oldCwd_);
        tmp_.reset();
    }

    unsigned Start(const char *arguments) {
        cQV_Error err;
        const unsigned pid =
            osCreateProcess(&err, helper_.c_str(), arguments, nullptr, nullptr, nullptr);
        EXPECT_NE(pid, 0u) << err.text;
        return pid;
    }

    // Runs the helper in report mode with the command and arguments given and reads its report.
    bool Run(const std::string &command, const char *arguments, HelperReport &report) {
        cQV_Error err;
        const unsigned pid =
            osCreateProcess(&err, command.c_str(), arguments, nullptr, nullptr, nullptr);
        EXPECT_NE(pid, 0u) << err.text;
        if (!pid || !WaitUntilEnded(pid)) return false;
        std::ifstream in(dir_ / "report", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> fields;
        for (size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos;
             start = end + 1)
            fields.push_back(text.substr(start, end - start));
        EXPECT_GE(fields.size(), 6u) << "no complete report";
        if (fields.size() < 6) return false;
        report.cwd = fields[0];
        report.commandLine = fields[1];
        report.extraFds = fields[2];
        report.sessionLeader = fields[3];
        report.ignoredSignals = fields[4];
        report.blockedSignals = fields[5];
        report.args.assign(fields.begin() + 6, fields.end());
        return true;
    }

    bool Run(const char *arguments, HelperReport &report) {
        return Run(helper_, arguments, report);
    }

    std::unique_ptr<qvtest::TempDir> tmp_;
    fs::path dir_;
    fs::path oldCwd_;
    std::string helper_;
};

// ---------------------------------------------------------------------------------------------
// Starting a process: the argument vector the child receives.

struct SplitCase {
    const char *name;
    const char *arguments;
    std::vector<std::string> expected;
};

class ArgumentSplitTest : public ProcessTest, public ::testing::WithParamInterface<SplitCase> {};

// The same table holds on Windows, where the child's runtime splits the line, and on POSIX,
// where the library splits it: both follow one set of rules.
TEST_P(ArgumentSplitTest, ChildReceivesArgumentsSplitByWindowsRules) {
    HelperReport report;
    ASSERT_TRUE(Run(GetParam().arguments, report));
    EXPECT_EQ(report.args, GetParam().expected) << GetParam().arguments;
}

INSTANTIATE_TEST_SUITE_P(
    Process, ArgumentSplitTest,
    ::testing::Values(SplitCase{"Blanks", "a b c", {"a", "b", "c"}},
                      SplitCase{"RunsOfBlanksAndTabs", "  a\t\tb  ", {"a", "b"}},
                      SplitCase{"QuotesGroup", "\"a b\" c", {"a b", "c"}},
                      SplitCase{"QuotesInsideToken", "a\"b c\"d", {"ab cd"}},
                      SplitCase{"EmptyQuotedArgument", "a \"\" b", {"a", "", "b"}},
                      SplitCase{"EscapedQuote", R"(\"a)", {R"("a)"}},
                      SplitCase{"BackslashesNotBeforeQuote", R"(a\\b c\)", {R"(a\\b)", R"(c\)"}},
                      SplitCase{"EvenBackslashesBeforeQuote", R"(\\"a b")", {R"(\a b)"}},
                      SplitCase{"OddBackslashesBeforeQuote", R"(\\\"a)", {R"(\"a)"}},
                      SplitCase{"EscapedQuoteInsideQuotes", R"("a\"b c")", {R"(a"b c)"}},
                      SplitCase{"DoubledQuoteInsideQuotes", R"("a""b")", {R"(a"b)"}},
                      SplitCase{
                          "UnterminatedQuote", "\"unterminated quote", {"unterminated quote"}}),
    [](const ::testing::TestParamInfo<SplitCase> &info) { return std::string(info.param.name); });

// Shell syntax in the arguments is text for the child: nothing is run, expanded or redirected.
TEST_F(ProcessTest, CreateProcess_ShellSyntaxReachesChildAsText) {
    std::ofstream(dir_ / "existing_file") << "x";
    HelperReport report;
    ASSERT_TRUE(Run("a;b x|y $(touch pwned) `touch pwned` >out 2>&1 * ~ $HOME %PATH% 'q' "
                    "\"$(touch pwned); touch pwned | cat\" && echo",
                    report));
    const std::vector<std::string> expected = {
        "a;b",  "x|y", "$(touch", "pwned)", "`touch", "pwned`", ">out",
        "2>&1", "*",   "~",       "$HOME",  "%PATH%", "'q'",    "$(touch pwned); touch pwned | cat",
        "&&",   "echo"};
    EXPECT_EQ(report.args, expected);
    EXPECT_FALSE(fs::exists(dir_ / "pwned"));
    EXPECT_FALSE(fs::exists(dir_ / "out"));
    EXPECT_TRUE(fs::exists(dir_ / "existing_file"));
}

TEST_F(ProcessTest, CreateProcess_WithoutArgumentsRunsCommandAlone) {
    for (const char *arguments : {static_cast<const char *>(nullptr), ""}) {
        HelperReport report;
        ASSERT_TRUE(Run(arguments, report));
        EXPECT_TRUE(report.args.empty());
#ifdef _WIN32
        // No blank is appended to the command.
        EXPECT_EQ(report.commandLine, helper_);
#endif
    }
    // The command may carry arguments of its own; the others follow them.
    HelperReport report;
    ASSERT_TRUE(Run(helper_ + " x", "y", report));
    EXPECT_EQ(report.args, (std::vector<std::string>{"x", "y"}));
}

// A quoted program path may hold blanks; the quotes do not reach the program.
TEST_F(ProcessTest, CreateProcess_QuotedProgramPathWithBlanks) {
    const fs::path folder = dir_ / "folder with blanks";
    ASSERT_TRUE(fs::create_directory(folder));
    const fs::path copy = folder / kHelperName;
    fs::copy_file(ExeDir() / kHelperName, copy);
    HelperReport report;
    ASSERT_TRUE(Run("\"" + copy.string() + "\" first", "\"second arg\"", report));
    EXPECT_EQ(report.args, (std::vector<std::string>{"first", "second arg"}));
}

// The report exists only because the child saw QV_PROC_HELPER_OUT from our environment.
TEST_F(ProcessTest, CreateProcess_ChildSharesOurEnvironmentAndFolder) {
    HelperReport report;
    ASSERT_TRUE(Run("probe", report));
    EXPECT_TRUE(fs::equivalent(fs::path(report.cwd), dir_)) << report.cwd;
}

#ifndef _WIN32
// Descriptors without close-on-exec, an ignored SIGPIPE and a blocked signal all stay with us.
TEST_F(ProcessTest, CreateProcess_ChildStartsWithOnlyStandardDescriptorsInItsOwnSession) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(dup2(fds[0], 100), 100);
    const int file = open((dir_ / "open_file").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(file, 0);
    struct sigaction ignore = {}, oldPipe = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGPIPE, &ignore, &oldPipe), 0);
    sigset_t block, oldMask;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR2);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &oldMask), 0);

    HelperReport report;
    const bool ran = Run("probe", report);

    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    sigaction(SIGPIPE, &oldPipe, nullptr);
    close(fds[0]);
    close(fds[1]);
    close(100);
    close(file);

    ASSERT_TRUE(ran);
    EXPECT_EQ(report.extraFds, "");
    EXPECT_EQ(report.sessionLeader, "1");
    EXPECT_EQ(report.ignoredSignals, "0");
    EXPECT_EQ(report.blockedSignals, "0");
}
#endif

// ---------------------------------------------------------------------------------------------
// Programs that cannot be started fail in osCreateProcess itself.

struct MissingCase {
    const char *name;
    const char *command;
    int posixError;   // the errno behind the message on POSIX
    int windowsError; // the same on Windows; 0 where the system's choice may vary
};

class MissingProgramTest : public ProcessTest, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingProgramTest, CreateProcess_ReportsProgramThatCannotStart) {
    // The arguments name a program that does run: they must never be taken for the command.
    const std::string arguments = helper_ + " probe";
    cQV_Error err;
    EXPECT_EQ(
        osCreateProcess(&err, GetParam().command, arguments.c_str(), nullptr, nullptr, nullptr),
        0u);
    EXPECT_EQ(err.code, 5);
    EXPECT_STREQ(err.file, "osprocess");
    EXPECT_GT(err.line, 0);
#ifdef _WIN32
    const int code = GetParam().windowsError;
#else
    const int code = GetParam().posixError;
#endif
    if (code)
        EXPECT_EQ(std::string(err.text), "Failed to create process: " + ErrorText(code));
    else
        EXPECT_EQ(std::string(err.text).rfind("Failed to create process: GetLastError()=", 0), 0u)
            << err.text;
    EXPECT_EQ(osCreateProcess(nullptr, GetParam().command, nullptr, nullptr, nullptr, nullptr), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Process, MissingProgramTest,
    ::testing::Values(
#ifdef _WIN32
        MissingCase{"MissingPath", "C:\\qv-no-such-folder\\qv-no-such-program.exe", 0, 0},
#else
        MissingCase{"MissingPath", "/qv-no-such-folder/qv-no-such-program", ENOENT, 0},
#endif
        // 2 is ERROR_FILE_NOT_FOUND.
        MissingCase{"MissingInSearchPath", "qv-no-such-program-4711", ENOENT, 2},
        MissingCase{"Empty", "", ENOENT, 2}, MissingCase{"Blank", " \t ", ENOENT, 2},
        MissingCase{"Null", nullptr, ENOENT, 2}, MissingCase{"EmptyQuotes", "\"\"", ENOENT, 0}),
    [](const ::testing::TestParamInfo<MissingCase> &info) { return std::string(info.param.name); });

#ifndef _WIN32
// A file without execute permission, a folder, and a script without an interpreter line (which a
// shell would happily run) are refused.
TEST_F(ProcessTest, CreateProcess_RefusesFilesThatAreNotPrograms) {
    std::ofstream(dir_ / "plain") << "data\n";
    chmod((dir_ / "plain").c_str(), 0644);
    fs::create_directory(dir_ / "folder");
    std::ofstream(dir_ / "script") << "touch pwned\n";
    chmod((dir_ / "script").c_str(), 0755);

    const struct {
        const char *name;
        int error;
    } cases[] = {{"plain", EACCES}, {"folder", EACCES}, {"script", ENOEXEC}};
    for (const auto &c : cases) {
        cQV_Error err;
        const std::string command = (dir_ / c.name).string();
        EXPECT_EQ(osCreateProcess(&err, command.c_str(), nullptr, nullptr, nullptr, nullptr), 0u)
            << c.name;
        EXPECT_EQ(std::string(err.text), "Failed to create process: " + ErrorText(c.error))
            << c.name;
    }
    EXPECT_FALSE(fs::exists(dir_ / "pwned"));
}

// A name without a folder is looked up in PATH: a file that may not be executed gives way to a
// program later on the path, a file that is no program ends the search, and an empty entry is the
// current folder.
TEST_F(ProcessTest, CreateProcess_SearchesThePathLikeTheSystem) {
    const char kName[] = "qv-path-program";
    for (const char *folder : {"denied", "program", "script"})
        fs::create_directory(dir_ / folder);
    std::ofstream(dir_ / "denied" / kName) << "data\n";
    chmod((dir_ / "denied" / kName).c_str(), 0644);
    fs::copy_file(ExeDir() / kHelperName, dir_ / "program" / kName);
    std::ofstream(dir_ / "script" / kName) << "touch pwned\n";
    chmod((dir_ / "script" / kName).c_str(), 0755);
    const std::string d = (dir_ / "denied").string(), p = (dir_ / "program").string(),
                      sc = (dir_ / "script").string(), none = (dir_ / "none").string();

    const struct {
        std::string path;
        int error; // 0: the program runs
    } cases[] = {
        {d + ":" + p, 0},         {none + ":" + p, 0},      {d, EACCES},
        {d + ":" + none, EACCES}, {none + ":" + d, EACCES}, {none, ENOENT},
        {sc + ":" + p, ENOEXEC},
    };
    qvtest::ScopedEnv path("PATH");
    for (const auto &c : cases) {
        path.Set(c.path.c_str());
        cQV_Error err;
        const unsigned pid = osCreateProcess(&err, kName, "--exit 0", nullptr, nullptr, nullptr);
        if (c.error) {
            EXPECT_EQ(pid, 0u) << c.path;
            EXPECT_EQ(std::string(err.text), "Failed to create process: " + ErrorText(c.error))
                << c.path;
        } else {
            EXPECT_NE(pid, 0u) << c.path << ": " << err.text;
            EXPECT_TRUE(pid == 0 || WaitUntilEnded(pid)) << c.path;
        }
    }

    // An empty entry, leading or trailing, names the current folder (the test's own).
    fs::copy_file(ExeDir() / kHelperName, dir_ / kName);
    for (const std::string &entries : {":" + none, none + ":"}) {
        path.Set(entries.c_str());
        HelperReport report;
        ASSERT_TRUE(Run(kName, nullptr, report)) << entries;
        EXPECT_TRUE(report.args.empty());
    }
    EXPECT_FALSE(fs::exists(dir_ / "pwned"));
}

#endif

// ---------------------------------------------------------------------------------------------
// Whether a process runs.

TEST_F(ProcessTest, IsProcessExist_ZeroOwnRunningAndEnded) {
    unsigned zero = 0;
    EXPECT_FALSE(osIsProcessExist(zero));
    unsigned self = osGetCurrentProcessId();
    EXPECT_TRUE(osIsProcessExist(self));

    unsigned sleeper = Start("--sleep 60000");
    ASSERT_NE(sleeper, 0u);
    EXPECT_TRUE(osIsProcessExist(sleeper));
    EXPECT_TRUE(osKillProcess(nullptr, sleeper, 1));
    EXPECT_TRUE(WaitUntilEnded(sleeper));

    unsigned quitter = Start("--exit 3");
    ASSERT_NE(quitter, 0u);
    EXPECT_TRUE(WaitUntilEnded(quitter));
    EXPECT_FALSE(osIsProcessExist(quitter));
#ifndef _WIN32
    // Reported as ended means reaped: no zombie is left behind.
    for (unsigned pid : {sleeper, quitter}) {
        errno = 0;
        EXPECT_EQ(waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
#endif
}

#ifdef _WIN32
// 259 is the code that GetExitCodeProcess reports for a running process.
TEST_F(ProcessTest, IsProcessExist_ProcessThatExitedWith259HasEnded) {
    const unsigned pid = Start("--exit 259 300");
    ASSERT_NE(pid, 0u);
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(WaitForSingleObject(h, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, 259u);
    unsigned id = pid;
    EXPECT_FALSE(osIsProcessExist(id));
    CloseHandle(h);
}
#else
// A zombie that another part of the program started is over, and its status stays for its parent.
TEST_F(ProcessTest, IsProcessExist_ForeignZombieHasEndedAndKeepsItsStatus) {
    char sh[] = "/bin/sh", c[] = "-c", script[] = "exit 3";
    char *argv[] = {sh, c, script, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, "/bin/sh", nullptr, nullptr, argv, environ), 0);
    ASSERT_TRUE(WaitUntilReapable(child));
    unsigned id = static_cast<unsigned>(child);
    EXPECT_FALSE(osIsProcessExist(id));
    const int status = ReapWithin(child);
    ASSERT_NE(status, -1) << "the zombie was reaped by the library";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

// A process whose main thread has ended shows as a zombie in /proc while its other threads run.
TEST_F(ProcessTest, IsProcessExist_ProcessWhoseMainThreadEndedStillRuns) {
    const std::string path = (ExeDir() / kHelperName).string();
    char mode[] = "--main-ends", ms[] = "60000";
    char *argv[] = {const_cast<char *>(path.c_str()), mode, ms, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ), 0);
    const bool leaderGone = WaitUntilZombie(child);
    unsigned id = static_cast<unsigned>(child);
    const bool running = osIsProcessExist(id);
    EXPECT_TRUE(osKillProcess(nullptr, id, 1));
    const int status = ReapWithin(child);
    ASSERT_TRUE(leaderGone);
    EXPECT_TRUE(running);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFSIGNALED(status));
}

// Ids beyond the pid range would read as process groups (-1: any child); they name nothing.
TEST_F(ProcessTest, IsProcessExist_IdsBeyondPidRangeTouchNoChild) {
    const unsigned pid = Start("--exit 0");
    ASSERT_NE(pid, 0u);
    ASSERT_TRUE(WaitUntilReapable(static_cast<pid_t>(pid)));
    for (unsigned id : {0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u})
        EXPECT_FALSE(osIsProcessExist(id)) << id;
    EXPECT_EQ(waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG), static_cast<pid_t>(pid));
}

// A thread's id is no process id, although /proc and kill() accept it.
TEST_F(ProcessTest, ThreadIdIsNoProcess) {
    std::promise<void> release;
    std::promise<pid_t> tid;
    std::thread t([&] {
        tid.set_value(static_cast<pid_t>(syscall(SYS_gettid)));
        release.get_future().wait_for(kBound);
    });
    unsigned id = static_cast<unsigned>(tid.get_future().get());
    EXPECT_FALSE(osIsProcessExist(id));
    cQV_Error err;
    EXPECT_FALSE(osKillProcess(&err, id, 1));
    EXPECT_EQ(std::string(err.text),
              "Failed to open process " + std::to_string(id) + ". " + ErrorText(ESRCH));
    release.set_value();
    t.join();
}

// Children nobody asks about are reaped when the next one starts.
TEST_F(ProcessTest, CreateProcess_ReapsEndedChildrenNobodyAskedAbout) {
    std::vector<pid_t> ended;
    for (int i = 0; i < 5; ++i) {
        const unsigned pid = Start("--exit 0");
        ASSERT_NE(pid, 0u);
        ended.push_back(static_cast<pid_t>(pid));
    }
    // Each start sweeps, so some may be gone already; the rest must be reapable by now.
    for (pid_t pid : ended)
        ASSERT_TRUE(WaitUntilReapable(pid, true));
    unsigned last = Start("--exit 0");
    ASSERT_NE(last, 0u);
    for (pid_t pid : ended) {
        errno = 0;
        EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
    EXPECT_TRUE(WaitUntilEnded(last));
}
#endif

TEST_F(ProcessTest, StartAndPollFromManyThreads) {
    std::atomic<int> ended{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                const unsigned pid = osCreateProcess(nullptr, helper_.c_str(), "--exit 0", nullptr,
                                                     nullptr, nullptr);
                if (pid && WaitUntilEnded(pid)) ++ended;
            }
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(ended.load(), 20);
}

// ---------------------------------------------------------------------------------------------
// Ending a process.

TEST_F(ProcessTest, KillProcess_RefusesIdZero) {
    cQV_Error err;
    unsigned zero = 0;
    EXPECT_FALSE(osKillProcess(&err, zero, 1));
    EXPECT_EQ(err.code, 5);
    EXPECT_STREQ(err.file, "osprocess");
    EXPECT_STREQ(err.text, "Invalid process id");
    EXPECT_FALSE(osKillProcess(nullptr, zero, 1));
}

TEST_F(ProcessTest, KillProcess_EndsRunningChildAtOnce) {
    unsigned pid = Start("--sleep 60000");
    ASSERT_NE(pid, 0u);
    const unsigned copy = pid;
#ifdef _WIN32
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    ASSERT_NE(h, nullptr);
#endif
    cQV_Error err;
    EXPECT_TRUE(osKillProcess(&err, pid, 7)) << err.text;
    EXPECT_EQ(pid, copy);
#ifdef _WIN32
    ASSERT_EQ(WaitForSingleObject(h, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(h);
#else
    // The exit code cannot be chosen on POSIX: the child dies of SIGKILL.
    const int status = ReapWithin(static_cast<pid_t>(pid));
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
#endif
    EXPECT_TRUE(WaitUntilEnded(pid));
}

TEST_F(ProcessTest, KillProcess_UnknownIdFailsToOpen) {
    unsigned id = 0x7FFFFFF0u;
    cQV_Error err;
    EXPECT_FALSE(osKillProcess(&err, id, 1));
    EXPECT_EQ(err.code, 5);
    EXPECT_STREQ(err.file, "osprocess");
    const std::string prefix = "Failed to open process 2147483632. ";
#ifdef _WIN32
    EXPECT_EQ(std::string(err.text), prefix + ErrorText(ERROR_INVALID_PARAMETER));
#else
    EXPECT_EQ(std::string(err.text), prefix + ErrorText(ESRCH));
#endif
}

TEST_F(ProcessTest, CloseProcessHandle_OnlyForgetsTheId) {
    unsigned pid = Start("--sleep 60000");
    ASSERT_NE(pid, 0u);
    unsigned copy = pid;
    osCloseProcessHandle(pid);
    EXPECT_EQ(pid, 0u);
    EXPECT_TRUE(osIsProcessExist(copy));
    EXPECT_TRUE(osKillProcess(nullptr, copy, 1));
    EXPECT_TRUE(WaitUntilEnded(copy));
}

// ---------------------------------------------------------------------------------------------
// The calling process.

TEST(ProcessSelf, GetCurrentProcessId_IsTheSystemsId) {
#ifdef _WIN32
    EXPECT_EQ(osGetCurrentProcessId(), GetCurrentProcessId());
#else
    EXPECT_EQ(osGetCurrentProcessId(), static_cast<unsigned>(getpid()));
#endif
}

TEST(ProcessSelf, GetCurrentProcessUser_NamesTheAccount) {
    cQV_String user("previous text");
    ASSERT_TRUE(osGetCurrentProcessUser(user));
#ifdef _WIN32
    char buf[512];
    DWORD size = sizeof buf;
    ASSERT_TRUE(GetUserNameA(buf, &size));
    EXPECT_STREQ(user, buf);
#else
    const passwd *pw = getpwuid(geteuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_STREQ(user, pw->pw_name);

    // The effective user counts, not the real one.
    const passwd *nobody = getpwnam("nobody");
    if (geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root and a 'nobody' account to switch the effective user";
    const std::string nobodyName = nobody->pw_name;
    ASSERT_EQ(seteuid(nobody->pw_uid), 0);
    cQV_String other;
    const bool ok = osGetCurrentProcessUser(other);
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::string(other), nobodyName);
#endif
}

#ifdef _WIN32
TEST(ProcessSelf, SetSilentErrorMode_SwitchesOffErrorDialogs) {
    osSetSilentErrorMode();
    EXPECT_EQ(GetErrorMode() & 0x8003u, 0x8003u);
}
#endif

} // namespace
