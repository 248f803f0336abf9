// Helpers shared by every test program: temporary folders, whole-file reading and writing,
// environment variables set for one test, the path separator, bounded waiting, and where the
// built programs lie and how to run one.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {

// The separator the library's path functions write on this platform.
#ifdef _WIN32
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif

// The one bound on every wait in the tests: generous enough for TSan and Wine, where a correct
// test finishes far sooner, so that a hang fails instead of blocking the run.
constexpr int kBoundMs = 30000;

// Polls pred every millisecond until it holds or ms have passed; its last answer.
inline bool WaitUntil(const std::function<bool()> &pred, int ms = kBoundMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A fresh folder under the system's temporary folder, removed with everything in it (made
// writable first) when the object goes. Names hold the process id, a counter and a random part,
// so test programs running side by side never share one. Made and removed with the standard
// library, so that the functions under test do not judge themselves.
class TempDir {
public:
    explicit TempDir(const std::string &prefix = "qv");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    // The path of leaf inside the folder, written with kSep (the folder itself for "").
    std::string Path(const std::string &leaf = "") const;
    std::string operator/(const std::string &leaf) const { return Path(leaf); }

private:
    std::filesystem::path path_;
};

// Whole files as bytes, with no line-end translation.
void WriteBytes(const std::string &path, const std::string &bytes);
std::string ReadBytes(const std::string &path);

// Sets or removes an environment variable in the process's own environment.
void SetEnv(const char *name, const char *value);
void UnsetEnv(const char *name);

// Remembers a variable and puts its old state back when the object goes.
class ScopedEnv {
public:
    explicit ScopedEnv(const char *name);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;
    void Set(const char *value) { SetEnv(name_.c_str(), value); }
    void Unset() { UnsetEnv(name_.c_str()); }

private:
    std::string name_, old_;
    bool had_;
};

// The folder of the running test program; the other built programs lie beside it.
std::filesystem::path ProgramDir();

// The path of the built program `name` beside the test program (".exe" added on Windows).
std::string ProgramPath(const std::string &name);

struct RunResult {
    int code;        // the exit code, -1 when the program did not exit normally
    std::string out; // standard output, with CR removed
    std::string err; // standard error, with CR removed
};

// Runs program with each argument quoted, through the platform's command interpreter, with its
// output captured in files inside `scratch`.
RunResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                     const std::filesystem::path &scratch);

} // namespace qvtest
