// The qvos process command, run as a real program that starts a real child.
#include "qv_process.h"
#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace Quorvel;
namespace fs = std::filesystem;

namespace {

using Outcome = qvtest::RunResult;

class QvosProcess : public ::testing::Test {
protected:
    void SetUp() override {
        tmp_ = std::make_unique<qvtest::TempDir>("qvos_process");
        dir_ = tmp_->path();
        qvos_ = qvtest::ProgramPath("qvos");
        helper_ = qvtest::ProgramPath("qv_proc_helper");
        if (!fs::exists(qvos_)) GTEST_SKIP() << "qvos is not built";
    }
    void TearDown() override { tmp_.reset(); }

    Outcome Qvos(const std::vector<std::string> &args) {
        return qvtest::RunProgram(qvos_, args, dir_);
    }

    std::unique_ptr<qvtest::TempDir> tmp_;
    fs::path dir_;
    std::string qvos_, helper_;
};

TEST_F(QvosProcess, StartAskAndKill) {
    const Outcome start = Qvos({"process", "start", helper_, "--sleep 60000"});
    ASSERT_EQ(start.code, 0) << start.err;
    unsigned pid = static_cast<unsigned>(std::strtoul(start.out.c_str(), nullptr, 10));
    ASSERT_NE(pid, 0u) << start.out;
    EXPECT_EQ(start.out, std::to_string(pid) + "\n");

    // The child outlives the qvos that started it.
    const Outcome alive = Qvos({"process", "alive", std::to_string(pid)});
    EXPECT_EQ(alive.code, 0);
    EXPECT_EQ(alive.out, "running\n");

    const Outcome kill = Qvos({"process", "kill", std::to_string(pid), "4"});
    EXPECT_EQ(kill.code, 0) << kill.err;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (osIsProcessExist(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(osIsProcessExist(pid));

    const Outcome gone = Qvos({"process", "alive", std::to_string(pid)});
    EXPECT_EQ(gone.code, 1);
    EXPECT_EQ(gone.out, "not running\n");
}

TEST_F(QvosProcess, UsageAndFailures) {
    struct Case {
        std::vector<std::string> args;
        int code;
        const char *errStart;
    };
    const Case cases[] = {
        {{"process"}, 2, "usage: qvos process "},
        {{"process", "start"}, 2, "usage: qvos process "},
        {{"process", "alive"}, 2, "usage: qvos process "},
        {{"process", "alive", "12x"}, 2, "usage: qvos process "},
        {{"process", "kill", "1", "-3"}, 2, "usage: qvos process "},
        {{"process", "stop", "1"}, 2, "usage: qvos process "},
        {{"process", "kill", "0"}, 3, "qvos process: Invalid process id\n"},
        {{"process", "start", "qv-no-such-program-4711"},
         3,
         "qvos process: Failed to create process: GetLastError()="},
    };
    for (const Case &c : cases) {
        const Outcome r = Qvos(c.args);
        std::string what;
        for (const std::string &a : c.args)
            what += a + " ";
        EXPECT_EQ(r.code, c.code) << what;
        EXPECT_EQ(r.err.rfind(c.errStart, 0), 0u) << what << ": " << r.err;
        EXPECT_EQ(r.out, "") << what;
    }
}

} // namespace
