// Loading and unloading the library at run time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

#include "support/qvtest.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

// A scratch folder for the child's captured output, removed afterwards.
class LoadSequence : public ::testing::Test {
protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() /
               ("qv_load_" + std::to_string(stamp) + "_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
};

// Each round runs the whole load sequence and its reverse in a thread that is not the process's
// first, with the main thread waiting: work in the sequence that waits on the loader, or on a
// thread that needs it, hangs the round (the child then reports it and ends).
TEST_F(LoadSequence, LoadAndUnloadFromASecondThreadRepeatedly) {
    const qvtest::RunResult r =
        qvtest::RunProgram(qvtest::ProgramPath("qv_load_helper"), {"40"}, dir_);
    EXPECT_EQ(r.code, 0) << r.err;
}

#ifdef _WIN32
// The runtime linked into the library keeps static thread-local storage (and callbacks that free
// each ending thread's share of it), so the system keeps sending the library per-thread
// notifications: a request to switch them off is refused.
TEST_F(LoadSequence, PerThreadNotificationsStayOn) {
    HMODULE lib = GetModuleHandleA("qv_os.dll");
    ASSERT_NE(lib, nullptr);
    EXPECT_FALSE(DisableThreadLibraryCalls(lib));
}
#endif

} // namespace
