#include "qvtest.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace qvtest {

namespace {

std::string ReadWithoutCr(const std::filesystem::path &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    std::string t;
    for (char c : s.str())
        if (c != '\r') t += c;
    return t;
}

int ProcessId() {
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

} // namespace

TempDir::TempDir(const std::string &prefix) {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            (prefix + "_" + std::to_string(ProcessId()) + "_" + std::to_string(counter++) + "_" +
             std::to_string(std::random_device{}() % 1000000));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    // A test may have taken the write right away from the folder or one inside it.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    ec.clear();
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Path(const std::string &leaf) const {
    std::string p = path_.string();
    if (!leaf.empty()) p += kSep + leaf;
    return p;
}

void WriteBytes(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void SetEnv(const char *name, const char *value) {
#ifdef _WIN32
    _putenv((std::string(name) + "=" + value).c_str());
#else
    setenv(name, value, 1);
#endif
}

void UnsetEnv(const char *name) {
#ifdef _WIN32
    _putenv((std::string(name) + "=").c_str());
#else
    unsetenv(name);
#endif
}

ScopedEnv::ScopedEnv(const char *name) : name_(name) {
    const char *v = std::getenv(name);
    had_ = v != nullptr;
    if (had_) old_ = v;
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        Set(old_.c_str());
    else
        Unset();
}

std::filesystem::path ProgramDir() {
#ifdef _WIN32
    char buf[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    return std::filesystem::path(std::string(buf, n)).parent_path();
#else
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
#endif
}

std::string ProgramPath(const std::string &name) {
#ifdef _WIN32
    return (ProgramDir() / (name + ".exe")).string();
#else
    return (ProgramDir() / name).string();
#endif
}

RunResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                     const std::filesystem::path &scratch) {
    std::string cmd = "\"" + program + "\"";
    for (const std::string &a : args)
        cmd += " \"" + a + "\"";
    const std::filesystem::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
    cmd += " >\"" + out.string() + "\" 2>\"" + err.string() + "\"";
#ifdef _WIN32
    // cmd.exe strips one pair of outer quotes from the whole line.
    const int rc = std::system(("\"" + cmd + "\"").c_str());
#else
    const int st = std::system(cmd.c_str());
    const int rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
#endif
    return {rc, ReadWithoutCr(out), ReadWithoutCr(err)};
}

} // namespace qvtest
