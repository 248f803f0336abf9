// A temporary folder per test for the file-system tests, on the shared test folder.
#pragma once

#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace iotest {

namespace fs = std::filesystem;

const char kSep = qvtest::kSep;

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::make_unique<qvtest::TempDir>("qv_io");
        root_ = dir_->path();
    }
    void TearDown() override { dir_.reset(); }

    // Path of name inside the folder, written with the platform's separator.
    std::string Path(const std::string &name = "") const { return dir_->Path(name); }
    void WriteFile(const std::string &name, const std::string &bytes) const {
        qvtest::WriteBytes(Path(name), bytes);
    }
    std::string ReadFile(const std::string &name) const { return qvtest::ReadBytes(Path(name)); }

    std::unique_ptr<qvtest::TempDir> dir_;
    fs::path root_;
};

} // namespace iotest
