// qvos: a command-line front end to the qv_os library.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "qvos.h"

namespace qvos {

namespace {

struct Command {
    const char *name;
    const char *usage;
    CommandFn fn;
};
struct InfoSection {
    InfoFn fn;
    int order;
};

// Function-local statics: registrars in other files may run before anything in this file.
std::vector<Command> &Commands() {
    static std::vector<Command> c;
    return c;
}
std::vector<InfoSection> &InfoSections() {
    static std::vector<InfoSection> s;
    return s;
}

void PrintHelp(std::FILE *out) {
    std::fprintf(out, "usage: qvos <command> [arguments]\n\ncommands:\n");
    std::vector<Command> sorted = Commands();
    std::sort(sorted.begin(), sorted.end(),
              [](const Command &a, const Command &b) { return std::strcmp(a.name, b.name) < 0; });
    std::fprintf(out, "  qvos --help\n");
    for (const Command &c : sorted)
        std::fprintf(out, "  qvos %s\n", c.usage);
}

int Info(int argc, char **) {
    if (argc != 1) return UsageError("info");
    std::vector<InfoSection> sorted = InfoSections();
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const InfoSection &a, const InfoSection &b) { return a.order < b.order; });
    for (const InfoSection &s : sorted)
        s.fn(stdout);
    return kOk;
}

} // namespace

Registrar::Registrar(const char *name, const char *usage, CommandFn fn) {
    Commands().push_back({name, usage, fn});
}

Registrar::Registrar(InfoFn fn, int order) {
    InfoSections().push_back({fn, order});
}

int UsageError(const char *name) {
    for (const Command &c : Commands()) {
        if (std::strcmp(c.name, name) == 0) {
            std::fprintf(stderr, "usage: qvos %s\n", c.usage);
            return kUsage;
        }
    }
    PrintHelp(stderr);
    return kUsage;
}

QVOS_COMMAND("info", "info                 what the library offers on this machine", Info);

} // namespace qvos

int main(int argc, char **argv) {
    if (argc < 2) {
        qvos::PrintHelp(stderr);
        return qvos::kUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        qvos::PrintHelp(stdout);
        return qvos::kOk;
    }
    for (const qvos::Command &c : qvos::Commands()) {
        if (std::strcmp(c.name, argv[1]) == 0) return c.fn(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "qvos: unknown command '%s'\n", argv[1]);
    qvos::PrintHelp(stderr);
    return qvos::kUsage;
}
