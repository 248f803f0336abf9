// Environment variables, the temporary and log folders, and the console key wait.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "io_test_util.h"
#include "qv_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

using namespace Quorvel;
namespace fs = iotest::fs;

namespace {

using EnvGuard = qvtest::ScopedEnv;

TEST(Env, GetAndSet) {
    EnvGuard guard("QV_IO_TEST_VAR");
    guard.Unset();
    cQV_String value("unchanged");
    EXPECT_FALSE(osGetEnv("QV_IO_TEST_VAR", value));
    EXPECT_STREQ("unchanged", (const char *)value);

    EXPECT_TRUE(osSetEnv("QV_IO_TEST_VAR", "a=b c"));
    EXPECT_TRUE(osGetEnv("QV_IO_TEST_VAR", value));
    EXPECT_STREQ("a=b c", (const char *)value);
    EXPECT_STREQ("a=b c", getenv("QV_IO_TEST_VAR")); // the runtime's own environment

    EXPECT_FALSE(osSetEnv("", "x"));
    EXPECT_FALSE(osGetEnv(nullptr, value));
}

TEST(Env, EmptyValueFollowsThePlatform) {
    EnvGuard guard("QV_IO_TEST_VAR");
    ASSERT_TRUE(osSetEnv("QV_IO_TEST_VAR", "x"));
    EXPECT_TRUE(osSetEnv("QV_IO_TEST_VAR", ""));
    cQV_String value("unchanged");
#ifdef _WIN32
    EXPECT_FALSE(osGetEnv("QV_IO_TEST_VAR", value)); // an empty value removes the variable
#else
    EXPECT_TRUE(osGetEnv("QV_IO_TEST_VAR", value)); // set, to the empty text
    EXPECT_STREQ("", (const char *)value);
#endif
}

TEST(Env, TempFolderEndsWithSeparator) {
    cQV_String temp = osGetTemp();
    ASSERT_GT(temp.Length(), 0u);
    char last = ((const char *)temp)[temp.Length() - 1];
    EXPECT_TRUE(last == '/' || last == '\\') << (const char *)temp;
    EXPECT_TRUE(osIsDirectory(temp)) << (const char *)temp;
#ifndef _WIN32
    EnvGuard guard("TMPDIR");
    struct {
        const char *tmpdir; // null: unset
        const char *result;
    } cases[] = {
        {"/var/tmp", "/var/tmp/"}, {"/var/tmp/", "/var/tmp/"}, {nullptr, "/tmp/"}, {"", "/tmp/"}};
    for (const auto &c : cases) {
        if (c.tmpdir)
            guard.Set(c.tmpdir);
        else
            guard.Unset();
        EXPECT_STREQ(c.result, (const char *)osGetTemp()) << (c.tmpdir ? c.tmpdir : "(unset)");
    }
#endif
}

class LogDirTest : public iotest::TempDirTest {
protected:
    EnvGuard wdir_{"WDIR"};
};

TEST_F(LogDirTest, WithoutWdirTheTempFolder) {
    wdir_.Unset();
    std::string expected = std::string(osGetTemp()) + "QV_Logs" + iotest::kSep;
    EXPECT_EQ(expected, (const char *)osGetLogDir());
}

TEST_F(LogDirTest, FirstExistingWorkFolder) {
    fs::create_directories(Path("work"));
    fs::create_directories(Path("other"));
    std::string list = Path("none") + ";" + Path("work") + ";" + Path("other");
    wdir_.Set(list.c_str());
    EXPECT_EQ(Path("work") + iotest::kSep + "Logs", (const char *)osGetLogDir());
    EXPECT_FALSE(fs::exists(Path("none")));
    EXPECT_FALSE(fs::exists(Path("work") + iotest::kSep + "Logs")); // not created here
}

TEST_F(LogDirTest, FirstListedFolderIsCreatedWhenNoneExists) {
    std::string list = Path("made") + ";" + Path("second");
    wdir_.Set(list.c_str());
    EXPECT_EQ(Path("made") + iotest::kSep + "Logs", (const char *)osGetLogDir());
    EXPECT_TRUE(fs::is_directory(Path("made")));
    EXPECT_FALSE(fs::exists(Path("second")));
    EXPECT_FALSE(fs::exists(Path("made") + iotest::kSep + "Logs"));
}

TEST_F(LogDirTest, UncreatableWorkFolderFallsBackToTemp) {
    // The first folder's parent is missing: it is not made (no recursion), nor is "Logs".
    std::string list = Path("no") + iotest::kSep + "such";
    wdir_.Set(list.c_str());
    std::string expected = std::string(osGetTemp()) + "QV_Logs" + iotest::kSep;
    EXPECT_EQ(expected, (const char *)osGetLogDir());
    EXPECT_FALSE(fs::exists(Path("no")));
    wdir_.Set("");
    EXPECT_EQ(expected, (const char *)osGetLogDir());
}

// ---- console ----

#ifdef _WIN32

TEST(Console, NoKeyGivesFalseAfterTheWait) {
    // The test has no console with keys waiting.
    char ch = 'x';
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(osWaitForConsoleInput(100, ch));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_GE(ms, 90);
    EXPECT_EQ('x', ch);
}

#else

// Puts fd in place of standard input for one test.
class StdinSwap {
public:
    explicit StdinSwap(int fd) : saved_(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
    ~StdinSwap() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

long long elapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

TEST(Console, PipeGivesOneByteAtATime) {
    int p[2];
    ASSERT_EQ(0, pipe(p));
    {
        StdinSwap swap(p[0]);
        ASSERT_EQ(3, write(p[1], "a\rb", 3));
        char ch = 0;
        struct {
            char expected;
        } keys[] = {{'a'}, {'\n'}, {'b'}}; // a carriage return comes as a line feed
        for (const auto &k : keys) {
            ASSERT_TRUE(osWaitForConsoleInput(1000, ch));
            EXPECT_EQ(k.expected, ch);
        }

        // Nothing waiting: one wait of the whole time-out, then false.
        ch = 'x';
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(osWaitForConsoleInput(100, ch));
        EXPECT_GE(elapsedMs(start), 100);
        EXPECT_EQ('x', ch);

        // A byte that arrives during the wait is taken at its end.
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ASSERT_EQ(1, write(p[1], "\n", 1));
        });
        EXPECT_TRUE(osWaitForConsoleInput(300, ch));
        EXPECT_EQ('\n', ch);
        writer.join();

        // The writer gone: end of input is no key.
        close(p[1]);
        EXPECT_FALSE(osWaitForConsoleInput(10, ch));
    }
    close(p[0]);
}

class PtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            GTEST_SKIP() << "no pseudo-terminals here";
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave_, 0);
    }
    void TearDown() override {
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }
    // What the terminal shows (its output), waiting up to firstWait ms for the first byte.
    std::string Shown(int firstWait = 1000) {
        std::string out;
        struct pollfd p = {master_, POLLIN, 0};
        int wait = firstWait;
        char buf[64];
        while (poll(&p, 1, wait) > 0) {
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
            wait = 50;
        }
        return out;
    }
    int master_ = -1, slave_ = -1;
};

TEST_F(PtyTest, OneKeyWithoutEnterAndTerminalRestored) {
    struct termios before;
    ASSERT_EQ(0, tcgetattr(slave_, &before));
    ASSERT_TRUE(before.c_lflag & ICANON); // a line-mode terminal: reads wait for Enter
    StdinSwap swap(slave_);
    ASSERT_EQ(1, write(master_, "k", 1)); // a key, no Enter
    char ch = 0;
    EXPECT_TRUE(osWaitForConsoleInput(2000, ch));
    EXPECT_EQ('k', ch);

    struct termios after;
    ASSERT_EQ(0, tcgetattr(slave_, &after));
    EXPECT_EQ(before.c_lflag, after.c_lflag); // line mode is back
    EXPECT_EQ(before.c_cc[VMIN], after.c_cc[VMIN]);

    // A key typed during the wait (the terminal back in line mode meanwhile) is taken at its end.
    std::thread typist([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_EQ(1, write(master_, "w", 1));
    });
    EXPECT_TRUE(osWaitForConsoleInput(300, ch));
    EXPECT_EQ('w', ch);
    typist.join();

    // The Enter key (CR, turned into LF by the terminal) comes as a line feed.
    ASSERT_EQ(1, write(master_, "\r", 1));
    EXPECT_TRUE(osWaitForConsoleInput(2000, ch));
    EXPECT_EQ('\n', ch);
}

TEST_F(PtyTest, KeyIsEchoedOnceWhetherOrNotTheTerminalEchoes) {
    StdinSwap swap(slave_);
    // A terminal that echoes shows the key as it is typed; the call adds nothing.
    ASSERT_EQ(1, write(master_, "e", 1));
    EXPECT_EQ("e", Shown());
    char ch = 0;
    EXPECT_TRUE(osWaitForConsoleInput(2000, ch));
    EXPECT_EQ('e', ch);
    EXPECT_EQ("", Shown(100));

    // A terminal with echo off: the call echoes the key it takes.
    struct termios t;
    ASSERT_EQ(0, tcgetattr(slave_, &t));
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ASSERT_EQ(0, tcsetattr(slave_, TCSANOW, &t));
    ASSERT_EQ(1, write(master_, "q", 1));
    EXPECT_TRUE(osWaitForConsoleInput(2000, ch));
    EXPECT_EQ('q', ch);
    EXPECT_EQ("q", Shown());
}

// Waits up to ms for pid; its wait status, or -1 when it has not ended or stopped.
int waitBounded(pid_t pid, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        int status = 0;
        if (waitpid(pid, &status, WUNTRACED | WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// A background job must not touch its terminal: changing the terminal's mode or
// reading from it stops the whole process (SIGTTOU, SIGTTIN). It sees no key.
TEST_F(PtyTest, BackgroundJobSeesNoKeyAndIsNotStopped) {
    ASSERT_EQ(1, write(master_, "k", 1)); // typed for the foreground job
    const char *name = ptsname(master_);
    ASSERT_NE(nullptr, name);
    // Exit codes of the session leader: 0 no key and not stopped, 1 a key taken,
    // 2 stopped by a signal, 3 no answer, 4 setup failed.
    pid_t leader = fork();
    ASSERT_GE(leader, 0);
    if (leader == 0) {
        // A session of its own whose controlling terminal is the pseudo-terminal;
        // its own process group stays the foreground job.
        if (setsid() < 0) _exit(4);
        int tty = open(name, O_RDWR);
        if (tty < 0 || ioctl(tty, TIOCSCTTY, 0) != 0) _exit(4);
        pid_t job = fork();
        if (job == 0) {
            if (setpgid(0, 0) != 0 || dup2(tty, STDIN_FILENO) < 0) _exit(4);
            char ch = 0;
            _exit(osWaitForConsoleInput(50, ch) ? 1 : 0);
        }
        if (job < 0) _exit(4);
        int status = waitBounded(job, 5000);
        if (status == -1 || WIFSTOPPED(status)) {
            kill(job, SIGKILL);
            waitpid(job, nullptr, 0);
            _exit(status == -1 ? 3 : 2);
        }
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 4);
    }
    int status = waitBounded(leader, 10000);
    if (status == -1) {
        kill(leader, SIGKILL);
        waitpid(leader, nullptr, 0);
    }
    ASSERT_TRUE(status != -1 && WIFEXITED(status)) << "the session leader did not end";
    EXPECT_EQ(0, WEXITSTATUS(status)) << "0 no key, 1 key taken, 2 stopped, 3 hung, 4 setup";
}

#endif

} // namespace
