// The qvos program's command registry. Each cmd_*.cpp file registers its subcommand with
// QVOS_COMMAND and may add lines to `qvos info` with QVOS_INFO; main.cpp knows none of them.
#pragma once

#include <cstdio>

namespace qvos {

// Gets the arguments after the subcommand's name (argv[0] is the subcommand's name).
using CommandFn = int (*)(int argc, char **argv);
// Prints its section of `qvos info` to out.
using InfoFn = void (*)(std::FILE *out);

struct Registrar {
    Registrar(const char *name, const char *usage, CommandFn fn);
    Registrar(InfoFn fn, int order);
};

// Exit codes shared by the subcommands.
enum ExitCode { kOk = 0, kNotFound = 1, kUsage = 2, kLibraryError = 3 };

// Prints "usage: qvos <usage of name>" to stderr and returns kUsage.
int UsageError(const char *name);

} // namespace qvos

#define QVOS_CAT2(a, b) a##b
#define QVOS_CAT(a, b) QVOS_CAT2(a, b)
#define QVOS_COMMAND(name, usage, fn)                                                              \
    static const ::qvos::Registrar QVOS_CAT(qvos_command_, __LINE__)(name, usage, fn)
#define QVOS_INFO(fn, order)                                                                       \
    static const ::qvos::Registrar QVOS_CAT(qvos_info_, __LINE__)(fn, order)
