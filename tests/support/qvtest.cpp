#include "qvtest.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
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

} // namespace

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
