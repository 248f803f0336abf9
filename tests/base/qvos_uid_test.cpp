// qvos uid, run as the real program.
#include "qv_process.h"
#include "qv_socket.h"
#include "qv_time.h"
#include "qv_uid.h"
#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace Quorvel;

namespace {

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

class QvosUid : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(qvtest::ProgramPath("qvos")))
            GTEST_SKIP() << "qvos is not built";
    }
    qvtest::RunResult Qvos(const std::vector<std::string> &args) {
        return qvtest::RunProgram(qvtest::ProgramPath("qvos"), args, dir_.path());
    }
    qvtest::TempDir dir_{"qvos_uid"};
};

TEST_F(QvosUid, PrintsDistinctIdentifiersOfItsOwnProcess) {
    tTimeb start;
    start.GetTime();
    const qvtest::RunResult r = Qvos({"uid", "20"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 20u) << r.out;

    unsigned char mac[6] = {0, 0, 0, 0, 0, 0};
    const bool haveMac = osNetGetEtherMAC(mac);
    std::set<std::string> seen;
    cQV_Uid first;
    for (const std::string &line : lines) {
        EXPECT_EQ(line.size(), 34u) << line;
        cQV_Uid u;
        ASSERT_TRUE(u.FromString(line.c_str())) << line;
        EXPECT_EQ(static_cast<const char *>(u.ToString()), line); // lower case, as printed
        EXPECT_TRUE(seen.insert(line).second) << line;
        if (first.IsEmpty()) first = u;
        // One machine and one process, and that process is not this one.
        EXPECT_EQ(std::memcmp(u.GetBuffer(), first.GetBuffer(), 10), 0) << line;
        const unsigned char *b = u.GetBuffer();
        const unsigned pid = b[6] | b[7] << 8 | b[8] << 16 | static_cast<unsigned>(b[9]) << 24;
        EXPECT_NE(pid, osGetCurrentProcessId());
        if (haveMac) {
            EXPECT_EQ(std::memcmp(b, mac, 6), 0) << line;
        } else {
            // The program's load time, big-endian: after this test began.
            const int sec =
                static_cast<int>(static_cast<unsigned>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3]);
            EXPECT_GE(static_cast<long long>(sec) * 1000 + (b[4] << 8 | b[5]),
                      static_cast<long long>(start.sec) * 1000 + start.ms);
        }
    }
}

TEST_F(QvosUid, OneByDefaultAndUsageErrors) {
    const qvtest::RunResult one = Qvos({"uid"});
    ASSERT_EQ(one.code, 0) << one.err;
    ASSERT_EQ(Lines(one.out).size(), 1u) << one.out;
    cQV_Uid u;
    EXPECT_TRUE(u.FromString(Lines(one.out)[0].c_str()));

    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"uid", "0"}, {"uid", "-3"}, {"uid", "x"}, {"uid", "5x"}, {"uid", "1", "2"}}) {
        const qvtest::RunResult r = Qvos(args);
        EXPECT_EQ(r.code, 2) << args[1];
        EXPECT_EQ(r.out, "") << args[1];
        EXPECT_NE(r.err.find("usage: qvos uid"), std::string::npos) << r.err;
    }
}

} // namespace
