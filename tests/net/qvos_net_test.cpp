// qvos resolve, qvos ifaces and the network lines of qvos info, run as real child processes.
#include "qv_socket.h"
#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class QvosNet : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(qvtest::ProgramPath("qvos"))) GTEST_SKIP() << "qvos is not built";
        static std::atomic<int> serial{0};
        dir_ = fs::temp_directory_path() /
               ("qvnet_" + std::to_string(serial++) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    qvtest::RunResult Qvos(const std::vector<std::string> &args) {
        return qvtest::RunProgram(qvtest::ProgramPath("qvos"), args, dir_);
    }
    fs::path dir_;
};

TEST_F(QvosNet, ResolvePrintsEveryAddress) {
    qvtest::RunResult r = Qvos({"resolve", "127.0.0.1", "::1"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "IPv4 127.0.0.1 127.0.0.1\n"
                     "IPv6 0000:0000:0000:0000:0000:0000:0000:0001 ::1\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(QvosNet, ResolveFailureSaysWhyAndGoesOn) {
    qvtest::RunResult r = Qvos({"resolve", "no-such-host.invalid", "127.0.0.1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "IPv4 127.0.0.1 127.0.0.1\n");
    EXPECT_NE(r.err.find("Failed to get address by host name [no-such-host.invalid]. "
                         "WSAGetLastError()="),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Qvos({"resolve"}).code, 2);
    EXPECT_EQ(Qvos({"ifaces", "extra"}).code, 2);
}

// One line per record of the library's own list, with four fields each.
TEST_F(QvosNet, IfacesListsTheLibrarysRecords) {
    qvtest::RunResult r = Qvos({"ifaces"});
    ASSERT_EQ(r.code, 0) << r.err;
    Quorvel::tNetInterfaceInfo *list = nullptr;
    const int n = Quorvel::osNetGetInterfaces(list);
    std::istringstream lines(r.out);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name, address, flags, speed, extra;
        fields >> name >> address >> flags >> speed;
        EXPECT_FALSE(speed.empty()) << line;
        EXPECT_FALSE(fields >> extra) << line;
        EXPECT_TRUE(flags == "-" || flags == "ppp") << line;
        Quorvel::tQV_InetAddress a{};
        EXPECT_TRUE(Quorvel::osParseIpAddress(a, address.c_str(), 0, nullptr)) << line;
        if (count < n) {
            EXPECT_EQ(name, static_cast<const char *>(list[count].name));
            EXPECT_EQ(speed, std::to_string(list[count].speed));
        }
        ++count;
    }
    EXPECT_EQ(count, n);
    delete[] list;
}

TEST_F(QvosNet, InfoShowsTheNetwork) {
    qvtest::RunResult r = Qvos({"info"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("network:\n  host name          " + std::string(Quorvel::osGetHostName()) +
                         "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  host address       "), std::string::npos);
    EXPECT_NE(r.out.find("  Ethernet address   "), std::string::npos);
}

} // namespace
