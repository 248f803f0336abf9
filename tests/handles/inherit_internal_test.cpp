// Children inherit nothing the library opens. With a log file, a plain file, a file lock, a folder
// search, listening, connected and accepted sockets, a configuration save in progress and a file
// stream open at once, a child reports from its own side which of them it holds: a child that the
// library starts, and a child started so that it inherits everything inheritable (a spawn on
// POSIX, a process created with inheritance on Windows, as any other code in the process may start
// one). A descriptor passed on purpose shows that the child's report would see an inherited one.
#include "io/io_save.h"
#include "net/net_test_util.h"
#include "qv_error.h"
#include "qv_file.h"
#include "qv_log.h"
#include "qv_process.h"
#include "qv_socket.h"
#include "qv_storage.h"
#include "qv_string.h"
#include "support/descriptor_check.h"
#include "support/handle_identity.h"
#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

using namespace Quorvel;

namespace {

using tDescriptors = std::map<long long, std::string>;

// Everything at once, opened through the library and closed when the object goes.
class tLibraryObjects {
public:
    explicit tLibraryObjects(const qvtest::TempDir &dir) {
        cQV_Error err;
        _log = cQV_Log::Create(&err, (dir / "inherit.log").c_str());
        EXPECT_NE(_log, nullptr) << err.text;
        cQV_Log::Log(_log, 0, __FILE__, __LINE__, "open");

        _file = osFileOpen((dir / "plain.bin").c_str(),
                           eFileOpenRead | eFileOpenWrite | eFileOpenCreate, 0);
        EXPECT_NE(_file, reinterpret_cast<void *>(-1));

        _lock = osLockFile(&err, (dir / "held.lock").c_str(), 0);
        EXPECT_NE(_lock, nullptr) << err.text;

        qvtest::WriteBytes(dir / "found.txt", "x");
        cQV_String name;
        _search = osFileFindFirst(dir.Path().c_str(), "*", name);
        EXPECT_NE(_search, nullptr);

        tQV_InetAddress any;
        osCreateLocalhostIp(eSoctFamilyIPv4, any);
        any.port = 0;
        EXPECT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, _listener)) << err.text;
        EXPECT_TRUE(osSoctBind(&err, _listener, any, nullptr)) << err.text;
        EXPECT_TRUE(osSoctListen(&err, _listener, 4)) << err.text;
        tQV_InetAddress to = any;
        to.port = nettest::LocalPort(nettest::ToRaw(_listener));
        EXPECT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, _client)) << err.text;
        EXPECT_TRUE(osSoctConnect(&err, _client, to, nullptr)) << err.text;
        EXPECT_TRUE(osSoctAccept(&err, _listener, _accepted, nullptr, nullptr)) << err.text;

        // A configuration save holds its file open from Begin until Commit or Abort.
        EXPECT_TRUE(_save.Begin((dir / "settings.cfg").c_str()));

        EXPECT_TRUE(_stream.Open((dir / "stream.dat").c_str(), "w+b"));
    }

    ~tLibraryObjects() {
        _stream.Close();
        _save.Abort();
        cQV_Error err;
        for (unsigned *s : {&_accepted, &_client, &_listener})
            if (*s) osSoctClose(&err, *s);
        osFileFindEnd(_search);
        osUnlockFile(_lock);
        if (_file != reinterpret_cast<void *>(-1)) osFileClose(_file);
        delete _log;
    }

    // The library's own numbers for what it handed out: the socket handles and the file handle.
    std::vector<long long> Handed() const {
        return {static_cast<long long>(_listener), static_cast<long long>(_client),
                static_cast<long long>(_accepted),
                static_cast<long long>(reinterpret_cast<intptr_t>(_file))};
    }

private:
    cQV_Log *_log = nullptr;
    void *_file = reinterpret_cast<void *>(-1);
    void *_lock = nullptr;
    void *_search = nullptr;
    unsigned _listener = 0, _client = 0, _accepted = 0;
    detail::tIoSave _save;
    cFileIO _stream;
};

// A descriptor made inheritable on purpose: the control that a child does get.
class tPassedOn {
public:
    explicit tPassedOn(const qvtest::TempDir &dir) {
#ifdef _WIN32
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        _h = CreateFileA((dir / "passed.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(_h, INVALID_HANDLE_VALUE);
#else
        _fd = open((dir / "passed.bin").c_str(), O_CREAT | O_WRONLY, 0600);
        EXPECT_GE(_fd, 0);
#endif
    }
    ~tPassedOn() {
#ifdef _WIN32
        if (_h != INVALID_HANDLE_VALUE) CloseHandle(_h);
#else
        if (_fd >= 0) close(_fd);
#endif
    }
    long long Value() const {
#ifdef _WIN32
        return static_cast<long long>(reinterpret_cast<uintptr_t>(_h));
#else
        return _fd;
#endif
    }

private:
#ifdef _WIN32
    HANDLE _h = INVALID_HANDLE_VALUE;
#else
    int _fd = -1;
#endif
};

// What the child holds of the values asked about, as value -> identity. On POSIX the child lists
// every descriptor beyond 0..2 it has (the identity is left empty); on Windows it answers for the
// values given as "h=VALUE" arguments, with the identity of what it holds at each.
using tHeld = std::map<long long, std::string>;

tHeld ParseHeld(const std::string &field) {
    tHeld held;
    std::istringstream in(field);
    for (std::string item; in >> item;) {
        const size_t eq = item.find('=');
        held[std::stoll(item.substr(0, eq))] =
            eq == std::string::npos ? std::string() : item.substr(eq + 1);
    }
    return held;
}

// What this process holds at the value, in the terms the child reports.
std::string OwnIdentity(long long value) {
#ifdef _WIN32
    return qvtest::HandleIdentity(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)));
#else
    (void)value;
    return "";
#endif
}

class InheritTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The socket service starts with the first socket and keeps what it opens for the
        // process: start it before the count.
        cQV_Error err;
        unsigned s = 0;
        if (osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, s)) osSoctClose(&err, s);
        env_.Set((dir_ / "report").c_str());
    }

    // The descriptors the library opens for `objects`: those that are new since `before`.
    tDescriptors Opened(const tDescriptors &before) {
        return qvtest::NewDescriptors(before, qvtest::OpenDescriptors());
    }

    std::string HandleArguments(const tDescriptors &opened, long long control) {
        std::string args;
        for (const auto &d : opened)
            args += " h=" + std::to_string(d.first);
        args += " h=" + std::to_string(control);
        return args;
    }

    // Reads the descriptor field of the child's report.
    bool ReadHeld(tHeld &held) {
        std::ifstream in(dir_ / "report", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        std::vector<std::string> fields;
        for (size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos;
             start = end + 1)
            fields.push_back(text.substr(start, end - start));
        EXPECT_GE(fields.size(), 6u) << "no complete report";
        if (fields.size() < 6) return false;
        held = ParseHeld(fields[2]);
        return true;
    }

    // The child the library starts.
    bool RunThroughLibrary(const std::string &arguments, tHeld &held) {
        cQV_Error err;
        const std::string helper = "\"" + qvtest::ProgramPath("qv_proc_helper") + "\"";
        unsigned pid = osCreateProcess(&err, helper.c_str(), ("probe" + arguments).c_str(), nullptr,
                                       nullptr, nullptr);
        EXPECT_NE(pid, 0u) << err.text;
        if (!pid) return false;
        const bool ended = qvtest::WaitUntil([&] { return !osIsProcessExist(pid); });
        EXPECT_TRUE(ended);
        return ended && ReadHeld(held);
    }

    // A child that inherits whatever the process lets it inherit.
    bool RunInheriting(const std::string &arguments, tHeld &held) {
        const std::string helper = qvtest::ProgramPath("qv_proc_helper");
#ifdef _WIN32
        std::string line = "\"" + helper + "\" probe" + arguments;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                            &pi)) {
            ADD_FAILURE() << "CreateProcessA: " << GetLastError();
            return false;
        }
        const bool ended = WaitForSingleObject(pi.hProcess, qvtest::kBoundMs) == WAIT_OBJECT_0;
        if (!ended) TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
#else
        std::vector<std::string> args = {helper, "probe"};
        std::istringstream in(arguments);
        for (std::string a; in >> a;)
            args.push_back(a);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, helper.c_str(), nullptr, nullptr, argv.data(), environ);
        EXPECT_EQ(rc, 0);
        if (rc != 0) return false;
        int status = 0;
        const bool ended =
            waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
        EXPECT_TRUE(ended);
        return ended && ReadHeld(held);
    }

    // The library's descriptors that the child holds: at the same value and, on Windows, the same
    // object.
    static std::string Inherited(const tDescriptors &opened, const tHeld &held) {
        std::string found;
        for (const auto &d : opened) {
            const auto it = held.find(d.first);
            if (it != held.end() && it->second == OwnIdentity(d.first))
                found += "\n  " + std::to_string(d.first) + " " + d.second + " " + it->second;
        }
        return found;
    }

    qvtest::TempDir dir_{"qv_inherit"};
    qvtest::ScopedEnv env_{"QV_PROC_HELPER_OUT"};
};

TEST_F(InheritTest, EveryDescriptorTheLibraryOpensIsClosedToChildren) {
    const tDescriptors before = qvtest::OpenDescriptors();
    tLibraryObjects objects(dir_);
    const tDescriptors opened = Opened(before);

    // Each object holds at least one descriptor, and those the library hands out are among them.
    EXPECT_GE(opened.size(), 9u) << qvtest::DescribeDescriptors(opened);
    for (long long v : objects.Handed())
        EXPECT_EQ(opened.count(v), 1u) << v << qvtest::DescribeDescriptors(opened);
    for (const char *leaf : {"inherit.log", "plain.bin", "held.lock", "stream.dat"}) {
        bool seen = false;
        for (const auto &d : opened)
            seen = seen || d.second.find(leaf) != std::string::npos;
        EXPECT_TRUE(seen) << leaf << qvtest::DescribeDescriptors(opened);
    }

    for (const auto &d : opened) {
#ifdef _WIN32
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(d.first), &flags));
        EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u) << d.first << " " << d.second;
#else
        const int flags = fcntl(static_cast<int>(d.first), F_GETFD);
        EXPECT_NE(flags, -1);
        EXPECT_TRUE(flags & FD_CLOEXEC) << d.first << " " << d.second;
#endif
    }
}

TEST_F(InheritTest, ChildTheLibraryStartsHoldsNothingButItsStandardDescriptors) {
    const tDescriptors before = qvtest::OpenDescriptors();
    tLibraryObjects objects(dir_);
    const tDescriptors opened = Opened(before);
    tPassedOn control(dir_);

    tHeld held;
    ASSERT_TRUE(RunThroughLibrary(HandleArguments(opened, control.Value()), held));
    EXPECT_EQ(Inherited(opened, held), "");
    // Not even what is open for inheritance reaches it.
#ifdef _WIN32
    const auto it = held.find(control.Value());
    EXPECT_TRUE(it == held.end() || it->second != OwnIdentity(control.Value()));
#else
    EXPECT_TRUE(held.empty()) << held.size() << " descriptor(s) beyond 0..2";
#endif
}

TEST_F(InheritTest, ChildThatInheritsWhatItMayHoldsOnlyWhatWasPassedOn) {
    const tDescriptors before = qvtest::OpenDescriptors();
    tLibraryObjects objects(dir_);
    const tDescriptors opened = Opened(before);
    tPassedOn control(dir_);

    tHeld held;
    ASSERT_TRUE(RunInheriting(HandleArguments(opened, control.Value()), held));
    EXPECT_EQ(Inherited(opened, held), "");
    const auto it = held.find(control.Value());
    ASSERT_TRUE(it != held.end()) << "the descriptor passed on did not arrive";
    EXPECT_EQ(it->second, OwnIdentity(control.Value()));
}

} // namespace
