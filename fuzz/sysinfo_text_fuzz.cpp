// Feeds arbitrary bytes to every parser of the system's text (/proc files, release files) and
// checks what each promises whatever the text: the processor name is never empty, the clock is
// never negative, and the long name keeps the architecture and kernel. The sanitizers watch
// every parser for reads past the text.
#include "sysinfo/sysinfo_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace Quorvel;
using namespace Quorvel::detail;

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "sysinfo_text_fuzz: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size); // NUL-terminated copy
    const char *t = text.c_str();

    cQV_String name;
    int mhz = -1;
    ParseCpuInfo(t, "x86_64", name, mhz);
    Check(name.Length() > 0, "empty processor name");
    Check(mhz >= 0, "negative clock");

    tOsRelease release;
    ParseOsRelease(t, release);
    cQV_String shortName, longName;
    NameLinuxSystem(release, "aarch64", "6.1.0-18-arm64", shortName, longName);
    const std::string longText = static_cast<const char *>(longName);
    Check(longText.size() >= std::strlen(" aarch64, kernel 6.1.0") &&
              longText.compare(longText.size() - 22, 22, " aarch64, kernel 6.1.0") == 0,
          "long name lost its architecture or kernel");

    unsigned long long idle = 0, total = 0;
    ParseProcStatCpu(t, idle, total);
    long long ram = 0, swap = 0, swapMax = 0;
    ParseMemInfo(t, ram, swap, swapMax);
    tProcStat stat;
    ParseProcPidStat(t, stat);
    unsigned long long pages = 0;
    ParseProcStatm(t, pages);
    return 0;
}
