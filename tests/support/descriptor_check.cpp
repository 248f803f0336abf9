// A check linked into every test program: after each test suite the process holds no descriptor
// (POSIX) or handle (Windows) that it did not hold before the suite began. A suite that leaves one
// open fails, with the new descriptors listed (on Linux with what they name).
//
// Under ctest every test runs in a process of its own (the suite then holds one test); a program
// run by hand runs every suite in turn, each checked against the state at its own start.
#include "descriptor_check.h"

#include "qv_error.h"
#include "qv_sysinfo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#endif

namespace qvtest {

namespace {

#ifdef _WIN32

// The system's name for the kind of object a handle refers to ("File", "Event", "Thread", ...),
// read through the native call, which has no import library of its own in every toolchain.
std::string HandleTypeName(HANDLE h) {
    struct tUnicodeString {
        USHORT length, maximumLength;
        PWSTR buffer;
    };
    using QueryObjectFn = LONG(WINAPI *)(HANDLE, int, void *, ULONG, ULONG *);
    static const QueryObjectFn query = [] {
        FARPROC p = GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject");
        QueryObjectFn fn = nullptr;
        static_assert(sizeof fn == sizeof p, "function pointers differ in size");
        std::memcpy(&fn, &p, sizeof fn);
        return fn;
    }();
    if (!query) return "?";
    alignas(8) unsigned char buf[1024];
    const int kObjectTypeInformation = 2;
    if (query(h, kObjectTypeInformation, buf, sizeof buf, nullptr) < 0) return "?";
    const tUnicodeString *name = reinterpret_cast<const tUnicodeString *>(buf);
    std::string text;
    for (USHORT i = 0; i < name->length / 2; ++i)
        text += name->buffer[i] < 128 ? static_cast<char>(name->buffer[i]) : '?';
    return text;
}

std::string Describe(HANDLE h) {
    std::string text = HandleTypeName(h);
    if (text == "File") {
        char path[MAX_PATH + 1];
        const DWORD n = GetFinalPathNameByHandleA(h, path, sizeof path, 0);
        if (n > 0 && n < sizeof path) text += std::string(" ") + path;
    }
    return text;
}

#endif

// Waits a little for a settled state before a difference counts: a descriptor closed by a thread
// that is still ending (a detached worker, a thread-pool callback) is not a leak of the suite.
constexpr int kSettleMs = 2000;

} // namespace

std::map<long long, std::string> OpenDescriptors() {
    std::map<long long, std::string> open;
#ifdef _WIN32
    // Handle values are multiples of 4 and the system hands out the lowest free one, so the table
    // is dense: the walk stops once it has met as many handles as the process holds.
    const auto count = [] {
        DWORD n = 0;
        return GetProcessHandleCount(GetCurrentProcess(), &n) ? n : 0;
    };
    const DWORD want = count();
    const uintptr_t kLimit = 4u * (1u << 20);
    for (uintptr_t v = 4; v < kLimit && open.size() < want; v += 4) {
        DWORD flags = 0;
        HANDLE h = reinterpret_cast<HANDLE>(v);
        if (GetHandleInformation(h, &flags)) open[static_cast<long long>(v)] = Describe(h);
    }
#else
    DIR *dir = opendir("/proc/self/fd");
    if (dir) {
        const int own = dirfd(dir);
        while (dirent *e = readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            const int fd = std::atoi(e->d_name);
            if (fd == own) continue;
            char target[PATH_MAX];
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            open[fd] = n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
        }
        closedir(dir);
        return open;
    }
    // No /proc: every number up to the process's limit is asked whether it is open.
    long limit = sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > 65536) limit = 65536;
    for (int fd = 0; fd < limit; ++fd)
        if (fcntl(fd, F_GETFD) != -1) open[fd] = "?";
#endif
    return open;
}

std::map<long long, std::string> NewDescriptors(const std::map<long long, std::string> &before,
                                                const std::map<long long, std::string> &after) {
    std::map<long long, std::string> added;
    for (const auto &d : after) {
        const auto it = before.find(d.first);
        if (it == before.end() || it->second != d.second) added.insert(d);
    }
    return added;
}

std::string DescribeDescriptors(const std::map<long long, std::string> &list) {
    std::ostringstream text;
    for (const auto &d : list) {
#ifdef _WIN32
        text << "\n  handle 0x" << std::hex << d.first << std::dec << ": " << d.second;
#else
        text << "\n  fd " << d.first << " -> " << d.second;
#endif
    }
    return text.str();
}

namespace {

// Opens what the library keeps open on purpose for the life of the process, so that the first
// suite to use it is not charged with it:
// - Linux: the system monitors keep /proc/stat, /proc/meminfo and /proc/self/statm open after
//   their first sample (opening costs as much as a read), until the library unloads. A process
//   holds one of each however many monitors it makes, so they are state, not leaks.
// Windows keeps no handle of its own open for the process here: the socket service that the first
// socket call starts holds handles that the system owns, and those are primed below as well.
void PrimeProcessState() {
    Quorvel::cQV_Error error;
    if (Quorvel::iQV_SysLoadMon *load =
            Quorvel::iQV_SysLoadMon::Create(&error, Quorvel::eSysLoadCpu | Quorvel::eSysLoadRam)) {
        load->Done();
        delete load;
    }
    if (Quorvel::iQV_ProcStatMon *proc = Quorvel::iQV_ProcStatMon::Create(&error)) {
        proc->Collect(&error);
        delete proc;
    }
}

class tDescriptorCheck : public ::testing::EmptyTestEventListener {
public:
    void OnTestProgramStart(const ::testing::UnitTest &) override { PrimeProcessState(); }

    void OnTestSuiteStart(const ::testing::TestSuite &) override { _before = OpenDescriptors(); }

    void OnTestSuiteEnd(const ::testing::TestSuite &suite) override {
        std::map<long long, std::string> added = NewDescriptors(_before, OpenDescriptors());
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleMs);
        while (!added.empty() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            added = NewDescriptors(_before, OpenDescriptors());
        }
        if (!added.empty())
            ADD_FAILURE() << "test suite " << suite.name() << " left " << added.size()
#ifdef _WIN32
                          << " handle(s) open:"
#else
                          << " descriptor(s) open:"
#endif
                          << DescribeDescriptors(added);
    }

private:
    std::map<long long, std::string> _before;
};

// Registered before main runs, so that every test program gets the check without a main of its
// own; the listener list takes ownership.
const bool kRegistered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new tDescriptorCheck);
    return true;
}();

} // namespace

} // namespace qvtest
