// A temporary folder per test, made and checked with the standard library so that
// the functions under test are not used to judge themselves.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace iotest {

namespace fs = std::filesystem;

#ifdef _WIN32
const char kSep = '\\';
#else
const char kSep = '/';
#endif

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Test processes run side by side: a random part keeps their folders apart.
        static std::atomic<int> counter{0};
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = fs::temp_directory_path() /
                ("qv_io_" + std::to_string(stamp) + "_" + std::to_string(std::random_device{}()) +
                 "_" + std::to_string(counter++));
        fs::create_directories(root_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // Path of name inside the folder, written with the platform's separator.
    std::string Path(const std::string &name = "") const {
        std::string p = root_.string();
        if (!name.empty()) p += kSep + name;
        return p;
    }

    void WriteFile(const std::string &name, const std::string &bytes) const {
        std::ofstream f(Path(name), std::ios::binary);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    std::string ReadFile(const std::string &name) const {
        std::ifstream f(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }

    fs::path root_;
};

} // namespace iotest
