// The qvos monitor and info commands, run as the real program with output to a file (a pipe's
// view: no terminal).
#include "qv_process.h"
#include "qv_sysinfo.h"
#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

using namespace Quorvel;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Words(const std::string &line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

bool IsNumber(const std::string &s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

class QvosMonitor : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> serial{0};
        dir_ =
            fs::temp_directory_path() / ("qvos_monitor_" + std::to_string(osGetCurrentProcessId()) +
                                         "_" + std::to_string(serial++));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        qvos_ = qvtest::ProgramPath("qvos");
        if (!fs::exists(qvos_)) GTEST_SKIP() << "qvos is not built";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    qvtest::RunResult Qvos(const std::vector<std::string> &args) {
        return qvtest::RunProgram(qvos_, args, dir_);
    }
    fs::path dir_;
    std::string qvos_;
};

TEST_F(QvosMonitor, PrintsAHeaderAndOneLinePerInterval) {
    qvtest::RunResult r = Qvos({"monitor", "-i", "100", "-n", "3"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    const std::vector<std::string> header = Words(lines[0]);
    ASSERT_EQ(header.size(), 7u) << lines[0];
    EXPECT_EQ(header[0], "sys-cpu%");
    EXPECT_EQ(header[4], "proc-cpu%");
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> w = Words(lines[i]);
        ASSERT_EQ(w.size(), 7u) << lines[i];
        for (const std::string &field : w)
            EXPECT_TRUE(IsNumber(field)) << lines[i];
        EXPECT_LE(std::stoi(w[0]), 100);
        EXPECT_LE(std::stoi(w[4]), 100);
        // Available memory in MiB never exceeds the machine's memory.
        EXPECT_LE(std::stoull(w[1]), cQV_SysInfo::GetRamSize() >> 20);
        EXPECT_GT(std::stoull(w[6]), 0u) << "the working set of a running program";
    }
    // Plain text only: no terminal control sequences when the output is not a terminal.
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

TEST_F(QvosMonitor, WatchesAnotherProcessByItsId) {
    qvtest::RunResult r =
        Qvos({"monitor", "-i", "50", "-n", "2", "-p", std::to_string(osGetCurrentProcessId())});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    const std::vector<std::string> w = Words(lines[2]);
    ASSERT_EQ(w.size(), 7u);
    EXPECT_TRUE(IsNumber(w[4]));
    EXPECT_EQ(w[5], "-"); // faults and working set belong to the own process only
    EXPECT_EQ(w[6], "-");
}

TEST_F(QvosMonitor, RefusesBadArgumentsAndMissingProcesses) {
    const std::vector<std::string> bad[] = {
        {"monitor", "-i"},       {"monitor", "-i", "0"},  {"monitor", "-i", "x"},
        {"monitor", "-n", "-1"}, {"monitor", "-p", "0"},  {"monitor", "-q"},
        {"monitor", "3"},        {"monitor", "-n", "1x"},
    };
    for (const auto &args : bad) {
        qvtest::RunResult r = Qvos(args);
        EXPECT_EQ(r.code, 2) << args.back();
        EXPECT_NE(r.err.find("usage: qvos monitor"), std::string::npos) << args.back();
        EXPECT_TRUE(r.out.empty());
    }
    qvtest::RunResult r = Qvos({"monitor", "-p", "2147483600", "-n", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("2147483600"), std::string::npos) << r.err;
}

#ifndef _WIN32
std::string ReadAll(const fs::path &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Without a count the table runs until Ctrl-C, which ends it after a whole line, with status 0.
TEST_F(QvosMonitor, CtrlCEndsTheTable) {
    const fs::path out = dir_ / "out.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string arg0 = qvos_, arg1 = "monitor", arg2 = "-i", arg3 = "50";
    char *argv[] = {&arg0[0], &arg1[0], &arg2[0], &arg3[0], nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, qvos_.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Wait (bounded) for the header and two lines, then interrupt.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Lines(ReadAll(out)).size() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(kill(pid, SIGINT), 0);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline + std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "qvos monitor did not end on SIGINT";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal instead of stopping";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string text = ReadAll(out);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << "the last line is whole";
    const std::vector<std::string> lines = Lines(text);
    ASSERT_GE(lines.size(), 3u);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(Words(lines[i]).size(), 7u) << lines[i];
}
#endif

TEST_F(QvosMonitor, InfoNamesTheMachine) {
    qvtest::RunResult r = Qvos({"info"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("machine:\n"), std::string::npos);
    EXPECT_NE(
        r.out.find("  processors         " + std::to_string(cQV_SysInfo::GetCpuCount()) + "\n"),
        std::string::npos)
        << r.out;
    const std::string shortName = static_cast<const char *>(cQV_SysInfo::GetOsShortName());
    EXPECT_NE(r.out.find("  system             " + shortName + "\n"), std::string::npos);
    EXPECT_NE(r.out.find(std::string("  host type          ") +
                         cQV_SysInfo::GetHostTypeStr(cQV_SysInfo::GetHostType()) + "\n"),
              std::string::npos);
}

} // namespace
