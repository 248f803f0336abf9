// The check that runs after every test suite (support/descriptor_check.cpp): it sees what a suite
// leaves open and names it, and it passes a suite that closes what it opens. The suites that leak
// on purpose are disabled, so they run only in a child started by these tests.
#include "support/descriptor_check.h"
#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kLeakPathVar[] = "QV_DESCRIPTOR_CHECK_FILE";

TEST(DescriptorList, ShowsAnOpenFileWithItsNameUntilItCloses) {
    qvtest::TempDir dir("qv_fdlist");
    const std::string path = dir / "listed.txt";
    const auto before = qvtest::OpenDescriptors();
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const auto added = qvtest::NewDescriptors(before, qvtest::OpenDescriptors());
    std::fclose(f);
    ASSERT_EQ(added.size(), 1u) << qvtest::DescribeDescriptors(added);
    EXPECT_NE(added.begin()->second.find("listed.txt"), std::string::npos) << added.begin()->second;
    EXPECT_TRUE(qvtest::NewDescriptors(before, qvtest::OpenDescriptors()).empty());
}

struct SuiteCase {
    const char *suite;
    bool fails;
};

class SuiteCheck : public ::testing::TestWithParam<SuiteCase> {};

// This program runs one of its disabled suites in a child; the file the suite opens lies in a
// folder of this test.
TEST_P(SuiteCheck, FailsOnlyTheSuiteThatLeavesADescriptorOpen) {
#ifdef _WIN32
    GTEST_SKIP() << "the handle check is off on Windows: under Wine a checked run can stop";
#endif
    qvtest::TempDir dir("qv_fdcheck");
    qvtest::ScopedEnv env(kLeakPathVar);
    env.Set((dir / "left_open.txt").c_str());
    const qvtest::RunResult r =
        qvtest::RunProgram(qvtest::ProgramPath("qv_handles_tests"),
                           {"--gtest_also_run_disabled_tests",
                            std::string("--gtest_filter=") + GetParam().suite + ".*"},
                           dir.path());
    const std::string leakText = std::string("test suite ") + GetParam().suite + " left 1 ";
    if (GetParam().fails) {
        EXPECT_NE(r.code, 0) << r.out;
        EXPECT_NE(r.out.find(leakText), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("left_open.txt"), std::string::npos) << r.out;
    } else {
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_EQ(r.out.find("left "), std::string::npos) << r.out;
    }
    // The suite really ran its test in the child.
    EXPECT_NE(r.out.find("[ RUN      ] " + std::string(GetParam().suite)), std::string::npos)
        << r.out;
}

INSTANTIATE_TEST_SUITE_P(Leaks, SuiteCheck,
                         ::testing::Values(SuiteCase{"DISABLED_LeakingSuite", true},
                                           SuiteCase{"DISABLED_TidySuite", false}),
                         [](const ::testing::TestParamInfo<SuiteCase> &info) {
                             return std::string(info.param.fails ? "Leaking" : "Tidy");
                         });

// Opens the file and keeps it open for the rest of the process.
TEST(DISABLED_LeakingSuite, LeavesAFileOpen) {
    const char *path = std::getenv(kLeakPathVar);
    if (!path) GTEST_SKIP() << "run by SuiteCheck only";
    static std::FILE *kept = std::fopen(path, "wb");
    EXPECT_NE(kept, nullptr);
}

TEST(DISABLED_TidySuite, ClosesTheFileItOpens) {
    const char *path = std::getenv(kLeakPathVar);
    if (!path) GTEST_SKIP() << "run by SuiteCheck only";
    std::FILE *f = std::fopen(path, "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
}

} // namespace
