// Line reading over a 10 MB file of 80-byte lines: lines per second and system calls per line.
//
// System calls are counted without tracing: on Linux this program defines read, __read_chk,
// lseek and lseek64 itself, so the dynamic linker binds the library's calls to these counting
// wrappers, which forward to the C library. The kernel's own count of read calls for the process
// (/proc/self/io, "syscr") is read beside it as a check on the read figure.
#include "bench_table.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "qv_file.h"

#if defined(__linux__)
#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

#if defined(__linux__)

unsigned long long gReads = 0, gSeeks = 0;

template <typename F> F next(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The kernel's count of read-type system calls made by this process so far.
long long kernelReadsRaw() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value;
    while (io >> key >> value)
        if (key == "syscr:") return value;
    return -1;
}

// The reads that one kernelReadsRaw() call adds between two readings of the count.
long long kernelReadOverhead() {
    static long long overhead = [] {
        long long a = kernelReadsRaw();
        long long b = kernelReadsRaw();
        return b - a;
    }();
    return overhead;
}

// Read calls made between two readings; the readings' own reads are taken out.
long long kernelReadsBetween(long long before, long long after) {
    return after - before - kernelReadOverhead();
}

#endif

const unsigned kFileBytes = 10 * 1024 * 1024;

// The files the benchmarks made, removed when the program ends.
struct MadeFiles {
    std::vector<std::string> paths;
    ~MadeFiles() {
        for (const std::string &p : paths)
            std::remove(p.c_str());
    }
} gMadeFiles;

// A 10 MB file of lines of lineBytes bytes each (the last one a line feed), made once per run.
std::string benchFile(unsigned lineBytes) {
    std::string path = std::string(Quorvel::osGetTemp()) + "qv_io_bench_lines_" +
                       std::to_string(lineBytes) + ".txt";
    for (const std::string &p : gMadeFiles.paths)
        if (p == path) return path;
    std::string line(lineBytes - 1, 'x');
    line += '\n';
    std::ofstream f(path, std::ios::binary);
    for (unsigned n = 0; n < kFileBytes / lineBytes; ++n) {
        std::string number = std::to_string(n);
        memcpy(&line[0], number.data(), number.size());
        f << line;
    }
    gMadeFiles.paths.push_back(path);
    return path;
}

struct Counted {
    unsigned long long lines = 0, calls = 0;
    long long kernel = 0;
};

void report(benchmark::State &state, const Counted &c) {
    state.SetItemsProcessed(static_cast<int64_t>(c.lines));
    if (c.lines) {
        state.counters["qv_syscalls/line"] =
            static_cast<double>(c.calls) / static_cast<double>(c.lines);
        state.counters["qv_kernel_reads/line"] =
            static_cast<double>(c.kernel) / static_cast<double>(c.lines);
    }
}

void oursReadLine(benchmark::State &state, unsigned lineBytes) {
    const std::string path = benchFile(lineBytes);
#if defined(__linux__)
    kernelReadOverhead();
#endif
    Counted c;
    for (auto _ : state) {
        void *h = Quorvel::osFileOpen(path.c_str(), 1, 0);
        Quorvel::cQV_String line;
#if defined(__linux__)
        long long k0 = kernelReadsRaw();
        unsigned long long r0 = gReads, s0 = gSeeks;
#endif
        unsigned long long n = 0;
        while (Quorvel::osFileReadLine(h, line, 0) && line.Length())
            ++n;
#if defined(__linux__)
        c.calls += (gReads - r0) + (gSeeks - s0);
        c.kernel += kernelReadsBetween(k0, kernelReadsRaw());
#endif
        Quorvel::osFileClose(h);
        if (n != kFileBytes / lineBytes) state.SkipWithError("wrong line count");
        c.lines += n;
    }
    report(state, c);
}

// Buffered stdio reading the same lines; it does not keep the file position after each line,
// which the library's reader does for callers that mix line and raw access.
void peerFgets(benchmark::State &state, unsigned lineBytes) {
    const std::string path = benchFile(lineBytes);
#if defined(__linux__)
    kernelReadOverhead();
#endif
    Counted c;
    char buf[65536];
    for (auto _ : state) {
        FILE *f = fopen(path.c_str(), "rb");
#if defined(__linux__)
        long long k0 = kernelReadsRaw();
#endif
        unsigned long long n = 0;
        while (fgets(buf, sizeof buf, f))
            ++n;
#if defined(__linux__)
        // stdio calls the read system call inside the C library, where no wrapper sees it: the
        // kernel's count is the figure here.
        long long k = kernelReadsBetween(k0, kernelReadsRaw());
        c.kernel += k;
        c.calls += static_cast<unsigned long long>(k);
#endif
        fclose(f);
        c.lines += n;
    }
    report(state, c);
}

void ours80(benchmark::State &s) {
    oursReadLine(s, 80);
}
void peer80(benchmark::State &s) {
    peerFgets(s, 80);
}
void ours4k(benchmark::State &s) {
    oursReadLine(s, 4096);
}
void peer4k(benchmark::State &s) {
    peerFgets(s, 4096);
}

QV_BENCH_ROW(readline80, "osFileReadLine, 10 MB of 80-byte lines (lines/s)", "<= 3 syscalls/line",
             ours80, peer80);
QV_BENCH_ROW(readline4k, "osFileReadLine, 10 MB of 4 KiB lines (lines/s)", "<= 3 syscalls/line",
             ours4k, peer4k);

} // namespace

#if defined(__linux__)
// Counting wrappers (see the top of the file). Default visibility, so that they are exported and
// bind the shared library's calls.
extern "C" {
__attribute__((visibility("default"))) ssize_t read(int fd, void *buf, size_t n) {
    static auto real = next<ssize_t (*)(int, void *, size_t)>("read");
    ++gReads;
    return real(fd, buf, n);
}
__attribute__((visibility("default"))) ssize_t __read_chk(int fd, void *buf, size_t n,
                                                          size_t size) {
    static auto real = next<ssize_t (*)(int, void *, size_t, size_t)>("__read_chk");
    ++gReads;
    return real(fd, buf, n, size);
}
__attribute__((visibility("default"))) off_t lseek(int fd, off_t off, int whence) {
    static auto real = next<off_t (*)(int, off_t, int)>("lseek");
    ++gSeeks;
    return real(fd, off, whence);
}
__attribute__((visibility("default"))) off64_t lseek64(int fd, off64_t off, int whence) {
    static auto real = next<off64_t (*)(int, off64_t, int)>("lseek64");
    ++gSeeks;
    return real(fd, off, whence);
}
}
#endif
