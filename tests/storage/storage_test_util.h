// Helpers of the storage tests: a temporary folder per test, the bytes of a memory stream, and a
// locale with other number punctuation.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "qv_storage.h"

namespace storagetest {

namespace fs = std::filesystem;

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = fs::temp_directory_path() /
                ("qv_storage_" + std::to_string(stamp) + "_" +
                 std::to_string(std::random_device{}()) + "_" + std::to_string(counter++));
        fs::create_directories(root_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string Path(const std::string &name) const { return (root_ / name).string(); }
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

// text with control bytes and quotes escaped, for case names that stay on one line.
inline std::string Printable(const char *text) {
    std::string out = "\"";
    for (const char *p = text; *p; ++p) {
        switch (*p) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '"':
            out += "\\q";
            break;
        default:
            out += *p;
        }
    }
    return out + "\"";
}

inline std::string Bytes(Quorvel::cMemoryIO &io) {
    Quorvel::cDataBuf &b = io.GetBuffer();
    const unsigned char *p = b;
    return p ? std::string(reinterpret_cast<const char *>(p), b.GetLength()) : std::string();
}

inline void Load(Quorvel::cMemoryIO &io, const std::string &bytes) {
    Quorvel::cDataBuf b(16);
    ASSERT_TRUE(b.AddSegment(reinterpret_cast<const unsigned char *>(bytes.data()),
                             static_cast<unsigned>(bytes.size())));
    io.SetBuffer(b);
}

// Switches to a locale with ',' as decimal mark and '.' grouping if the machine has one;
// restores "C" afterwards.
struct OtherLocale {
    bool active = false;
    OtherLocale() {
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German_Germany.1252"}) {
            if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',') {
                active = true;
                return;
            }
        }
        std::setlocale(LC_ALL, "C");
    }
    ~OtherLocale() { std::setlocale(LC_ALL, "C"); }
};

} // namespace storagetest
