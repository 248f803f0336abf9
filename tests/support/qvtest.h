// Helpers shared by every test program: where the built programs lie, and running one of them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qvtest {

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
