#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <regex>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "qv_error.h"
#include "support/qvtest.h"
#include "qv_log.h"
#include "qv_thread.h"
#include "qv_time.h"
#include "support/qvtest.h"

using Quorvel::cQV_Error;
using Quorvel::cQV_Log;
using Quorvel::cQV_String;

namespace fs = std::filesystem;

// When set, the next nothrow allocation of a log's size fails. On ELF platforms the library's
// allocations reach this replacement; a Windows DLL keeps its own operator new.
static std::atomic<bool> gFailLogAllocation{false};

void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    if (size == sizeof(Quorvel::cQV_Log) && gFailLogAllocation.exchange(false)) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

// Copies would close the file and destroy the lock twice.
static_assert(!std::is_copy_constructible<cQV_Log>::value, "a log must not be copyable");
static_assert(!std::is_copy_assignable<cQV_Log>::value, "a log must not be assignable");

namespace {

using qvtest::kSep;

std::string Hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", v);
    return buf;
}

std::string ReadAll(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The text of a log file or of captured standard output. Both are text-mode streams, so on
// Windows each line feed is stored as CR LF: every LF there must follow a CR, and the CRs are
// dropped here so that the layout reads the same on both platforms.
std::string ReadText(const std::string &path) {
    std::string raw = ReadAll(path);
#if defined(_WIN32)
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        if (raw[i] == '\r' || raw[i] == '\n') {
            if (raw[i] == '\r' || i == 0 || raw[i - 1] != '\r') return "<bad line end>";
        }
        text += raw[i];
    }
    return text;
#else
    return raw;
#endif
}

// One record or notice as read back from a log, checked against the layout byte for byte.
struct Entry {
    std::string time; // the asctime line, without its line feed
    std::string thread;
    std::string level;
    std::string file;
    std::string line;
    std::string message;
    bool notice = false;
};

// Splits a log's text into entries; false (with the offset in where) at the first byte that
// breaks the layout.
bool Parse(const std::string &text, std::vector<Entry> &entries, std::string &where) {
    static const std::regex kTime("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] "
                                  "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}");
    size_t p = 0;
    auto fail = [&](const char *what) {
        where = std::string(what) + " at offset " + std::to_string(p);
        return false;
    };
    auto until = [&](const std::string &stop, std::string &out) {
        size_t e = text.find(stop, p);
        if (e == std::string::npos) return false;
        out = text.substr(p, e - p);
        p = e + stop.size();
        return true;
    };
    auto expect = [&](const char *lit) {
        size_t n = std::strlen(lit);
        if (text.compare(p, n, lit) != 0) return false;
        p += n;
        return true;
    };
    while (p < text.size()) {
        Entry e;
        if (!until("\n", e.time) || !std::regex_match(e.time, kTime)) return fail("time line");
        if (!expect(" [") || !until("] LEVEL:", e.thread)) return fail("thread");
        if (!until(" FILE:", e.level)) return fail("level");
        if (!until("\n MSG:", e.file)) return fail("file");
        // The file field ends with "[line]".
        size_t open = e.file.rfind('[');
        if (open == std::string::npos || e.file.back() != ']') return fail("line");
        e.line = e.file.substr(open + 1, e.file.size() - open - 2);
        e.file.resize(open);
        if (!until("\n", e.message)) return fail("message");
        if (p < text.size() && text[p] == '\n') {
            ++p; // a record ends with a blank line
        } else if (e.message.rfind("Maximum length [", 0) == 0) {
            e.notice = true; // the notice ends with a single line feed
        } else {
            return fail("record end");
        }
        entries.push_back(e);
    }
    return true;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::make_unique<qvtest::TempDir>("qv_log");
        root_ = dir_->path();
    }
    void TearDown() override { dir_.reset(); }
    std::string Path(const std::string &name) const { return dir_->Path(name); }

    std::unique_ptr<qvtest::TempDir> dir_;
    fs::path root_;
};

// Standard output redirected into a file for the life of the object.
class StdoutCapture {
public:
    explicit StdoutCapture(const std::string &path) : path_(path) {
        std::fflush(stdout);
#if defined(_WIN32)
        saved_ = _dup(_fileno(stdout));
        int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, 0600);
        _dup2(fd, _fileno(stdout));
        _close(fd);
#else
        saved_ = dup(fileno(stdout));
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, fileno(stdout));
        close(fd);
#endif
    }
    std::string Finish() {
        std::fflush(stdout);
#if defined(_WIN32)
        _dup2(saved_, _fileno(stdout));
        _close(saved_);
#else
        dup2(saved_, fileno(stdout));
        close(saved_);
#endif
        return ReadText(path_);
    }

private:
    std::string path_;
    int saved_;
};

struct OpenState {
    bool open = false;
    bool inherited = false;
};

// Whether this process holds the file open, and whether a child process would inherit it.
OpenState FindOpenFile(const std::string &path) {
    OpenState state;
#if defined(_WIN32)
    HANDLE probe =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return state;
    BY_HANDLE_FILE_INFORMATION want;
    GetFileInformationByHandle(probe, &want);
    CloseHandle(probe);
    for (int fd = 0; fd < 256; ++fd) {
        intptr_t h = _get_osfhandle(fd);
        if (h == -1 || h == -2) continue;
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(h), &info)) continue;
        if (info.dwVolumeSerialNumber != want.dwVolumeSerialNumber ||
            info.nFileIndexHigh != want.nFileIndexHigh || info.nFileIndexLow != want.nFileIndexLow)
            continue;
        state.open = true;
        DWORD flags = 0;
        GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags);
        if (flags & HANDLE_FLAG_INHERIT) state.inherited = true;
    }
#else
    std::error_code ec;
    const fs::path want = fs::canonical(path, ec);
    for (const auto &entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code lec;
        fs::path target = fs::read_symlink(entry.path(), lec);
        if (lec || target != want) continue;
        state.open = true;
        int fd = std::stoi(entry.path().filename().string());
        int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC)) state.inherited = true;
    }
#endif
    return state;
}

// ---- record layout

TEST_F(LogTest, RecordLayoutByteForByte) {
    cQV_Error err;
    const std::string path = Path("layout.log");
    cQV_Log *log = cQV_Log::Create(&err, path.c_str());
    ASSERT_NE(log, nullptr);
    const std::string thread = Hex(Quorvel::osGetCurrentThreadId());

    std::string before, after;
    for (int attempt = 0; attempt < 3 && (before.empty() || before != after); ++attempt) {
        std::error_code ec;
        fs::resize_file(path, 0, ec);
        before = static_cast<const char *>(Quorvel::osGetLocalTimeStr());
        cQV_Log::Log(log, 1, "main.cpp", 42, "hello %s %d", "world", 7);
        cQV_Error record;
        record.Set(3, "osio", 183, "Failed to delete file [a.txt]. GetLastError()=5 [Access]");
        cQV_Log::Log(log, 0, record);
        record.Set(1, "", 0, "no module");
        cQV_Log::Log(log, 2, record);
        after = static_cast<const char *>(Quorvel::osGetLocalTimeStr());
    }
    ASSERT_EQ(before, after) << "the clock crossed a second boundary in three attempts";
    const std::string expected = before + " [" + thread +
                                 "] LEVEL:1 FILE:main.cpp[42]\n MSG:hello world 7\n\n" + before +
                                 " [" + thread +
                                 "] LEVEL:0 FILE:osio[183]\n MSG:Failed to delete file [a.txt]. "
                                 "GetLastError()=5 [Access]\n\n" +
                                 before + " [" + thread + "] LEVEL:2 FILE:[0]\n MSG:no module\n\n";
    EXPECT_EQ(ReadText(path), expected);
    delete log;
}

void CallLogV(cQV_Log *log, int level, const char *file, int line, const char *format, ...) {
    va_list args;
    va_start(args, format);
    cQV_Log::LogV(log, level, file, line, format, args);
    va_end(args);
}

TEST_F(LogTest, LogVWritesUnknownForANullFileAndNullLogsDoNothing) {
    const std::string path = Path("v.log");
    cQV_Log *log = cQV_Log::Create(nullptr, path.c_str());
    ASSERT_NE(log, nullptr);
    CallLogV(log, 1, nullptr, 17, "%d-%s", -5, "x");
    std::vector<Entry> entries;
    std::string where;
    ASSERT_TRUE(Parse(ReadText(path), entries, where)) << where;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].file, "unknown");
    EXPECT_EQ(entries[0].line, "17");
    EXPECT_EQ(entries[0].level, "1");
    EXPECT_EQ(entries[0].message, "-5-x");
    delete log;

    cQV_Error e;
    e.Set(3, "osio", 1, "text");
    cQV_Log::Log(nullptr, 0, "f", 1, "%s", "nothing");
    CallLogV(nullptr, 0, "f", 1, "%s", "nothing");
    cQV_Log::Log(nullptr, 0, e);
    EXPECT_FALSE(cQV_Log::IsLog(nullptr, -100));
}

TEST_F(LogTest, LevelsUpToTheOutputLevelAreWritten) {
    const std::string path = Path("levels.log");
    cQV_Log *log = cQV_Log::Create(nullptr, path.c_str());
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->GetOutputLevel(), 2);
    struct Case {
        int outputLevel;
        int level;
        bool written;
    } cases[] = {{2, 3, false},  {2, 2, true},   {2, -1, true}, {2, 100, false},
                 {-1, 0, false}, {-1, -1, true}, {5, 5, true},  {5, 6, false}};
    std::vector<std::string> expected;
    int n = 0;
    for (const Case &c : cases) {
        log->SetOutputLevel(c.outputLevel);
        EXPECT_EQ(log->GetOutputLevel(), c.outputLevel);
        EXPECT_EQ(cQV_Log::IsLog(log, c.level), c.written) << c.level << " at " << c.outputLevel;
        cQV_Log::Log(log, c.level, "lv.cpp", n, "case %d", n);
        if (c.written) expected.push_back("case " + std::to_string(n));
        ++n;
    }
    std::vector<Entry> entries;
    std::string where;
    ASSERT_TRUE(Parse(ReadText(path), entries, where)) << where;
    std::vector<std::string> messages;
    for (const Entry &e : entries)
        messages.push_back(e.message);
    EXPECT_EQ(messages, expected);
    delete log;
}

// ---- size limit

TEST_F(LogTest, SizeLimitWritesOneNoticeUntilTheLimitIsSetAgain) {
    const std::string path = Path("limit.log");
    cQV_Log *log = cQV_Log::Create(nullptr, path.c_str());
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->GetMaxSize(), 0);

    cQV_Log::Log(log, 1, "a.cpp", 1, "first");
    const auto one = fs::file_size(path);
    // The second record starts below the limit and is written in full; the file then passes it.
    log->SetMaxSize(static_cast<int>(one) + 1);
    EXPECT_EQ(log->GetMaxSize(), static_cast<int>(one) + 1);
    cQV_Log::Log(log, 1, "a.cpp", 2, "second");
    cQV_Log::Log(log, 1, "a.cpp", 3, "third: refused, the notice instead");
    cQV_Log::Log(log, 1, "a.cpp", 4, "fourth: dropped");
    // A new limit allows records again, and one more notice when it is reached.
    const auto now = fs::file_size(path);
    log->SetMaxSize(static_cast<int>(now) + 1);
    cQV_Log::Log(log, 1, "a.cpp", 5, "fifth");
    cQV_Log::Log(log, 1, "a.cpp", 6, "sixth: refused");
    cQV_Log::Log(log, 1, "a.cpp", 7, "seventh: dropped");
    delete log;

    std::vector<Entry> entries;
    std::string where;
    ASSERT_TRUE(Parse(ReadText(path), entries, where)) << where;
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].message, "first");
    EXPECT_EQ(entries[1].message, "second");
    EXPECT_TRUE(entries[2].notice);
    EXPECT_EQ(entries[2].message, "Maximum length [" + std::to_string(one + 1) +
                                      "] bytes of log file has been reached");
    EXPECT_EQ(entries[2].line, "3"); // the notice carries the refused record's header
    EXPECT_EQ(entries[3].message, "fifth");
    EXPECT_TRUE(entries[4].notice);
    EXPECT_EQ(entries[4].message, "Maximum length [" + std::to_string(now + 1) +
                                      "] bytes of log file has been reached");
}

TEST_F(LogTest, SizeLimitCountsWhatTheFileHeldBeforeTheLogOpenedIt) {
    // An append stream reports position 0 until it writes; the limit must see the file's length.
    const std::string path = Path("full.log");
    const std::string old(500, 'x');
    {
        std::ofstream f(path, std::ios::binary);
        f << old;
    }
    cQV_Log *log = cQV_Log::Create(nullptr, path.c_str());
    ASSERT_NE(log, nullptr);
    log->SetMaxSize(100);
    cQV_Log::Log(log, 1, "b.cpp", 9, "refused");
    cQV_Log::Log(log, 1, "b.cpp", 10, "dropped");
    delete log;

    const std::string text = ReadText(path);
    ASSERT_EQ(text.compare(0, old.size(), old), 0);
    std::vector<Entry> entries;
    std::string where;
    ASSERT_TRUE(Parse(text.substr(old.size()), entries, where)) << where;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].notice);
    EXPECT_EQ(entries[0].message, "Maximum length [100] bytes of log file has been reached");
}

// ---- streams, files and standard output

TEST_F(LogTest, SuppliedStreamStaysOpenAfterTheLog) {
    const std::string path = Path("stream.log");
    std::FILE *f = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    cQV_Log *log = cQV_Log::Create(nullptr, static_cast<void *>(f));
    ASSERT_NE(log, nullptr);
    cQV_Log::Log(log, 1, "s.cpp", 1, "to the stream");
    delete log;
    EXPECT_GE(std::fputs("after the log\n", f), 0);
    EXPECT_EQ(std::fclose(f), 0);

    const std::string text = ReadAll(path);
    const std::string tail = "\n MSG:to the stream\n\nafter the log\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(LogTest, OwnedFileIsNotInheritedAndIsClosedWithTheLog) {
    const std::string path = Path("owned.log");
    cQV_Log *log = cQV_Log::Create(nullptr, path.c_str());
    ASSERT_NE(log, nullptr);
    OpenState open = FindOpenFile(path);
    EXPECT_TRUE(open.open);
    EXPECT_FALSE(open.inherited);
    delete log;
    EXPECT_FALSE(FindOpenFile(path).open);
}

TEST_F(LogTest, WithoutAUsableFileTheLogWritesToStandardOutput) {
    const std::string missing = Path("no-such-folder") + kSep + "x.log";
    struct Case {
        const char *what;
        cQV_Log *log;
    } cases[] = {
        {"empty name", cQV_Log::Create(nullptr, "")},
        {"null name", cQV_Log::Create(nullptr, static_cast<const char *>(nullptr))},
        {"null stream", cQV_Log::Create(nullptr, nullptr)},
        {"file that cannot be opened", cQV_Log::Create(nullptr, missing.c_str())},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NE(c.log, nullptr);
        c.log->SetMaxSize(1); // no limit applies to standard output
        StdoutCapture capture(Path("stdout.txt"));
        cQV_Log::Log(c.log, 1, "o.cpp", 3, "on stdout %d", 1);
        cQV_Log::Log(c.log, 2, "o.cpp", 4, "on stdout %d", 2);
        std::string text = capture.Finish();
        delete c.log;
        std::vector<Entry> entries;
        std::string where;
        ASSERT_TRUE(Parse(text, entries, where)) << where << "\n" << text;
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].message, "on stdout 1");
        EXPECT_EQ(entries[1].message, "on stdout 2");
    }
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(LogTest, CreateReportsAFailedAllocation) {
#if defined(_WIN32)
    GTEST_SKIP() << "the library's allocations do not reach the test's operator new";
#else
    const std::string path = Path("never.log");
    cQV_Error err;
    gFailLogAllocation = true;
    EXPECT_EQ(cQV_Log::Create(&err, path.c_str()), nullptr);
    EXPECT_FALSE(gFailLogAllocation.load()) << "the log was not allocated through nothrow new";
    EXPECT_EQ(err.code, 7);
    EXPECT_STREQ(err.file, "oslog");
    EXPECT_EQ(std::string(static_cast<const char *>(err.text)),
              "Failed to allocate " + std::to_string(sizeof(cQV_Log)) + " bytes");
    EXPECT_FALSE(fs::exists(path));

    err.Reset();
    gFailLogAllocation = true;
    EXPECT_EQ(cQV_Log::Create(&err, static_cast<void *>(stdout)), nullptr);
    EXPECT_EQ(err.code, 7);
    gFailLogAllocation = true;
    EXPECT_EQ(cQV_Log::Create(nullptr, path.c_str()), nullptr); // no record: nothing to fill
    gFailLogAllocation = false;
#endif
}

// ---- the folder form

TEST_F(LogTest, FolderFormBuildsTheNameAndMakesTheFolder) {
    struct Case {
        const char *subDir;
        const char *prefix;
        const char *name;
        const char *suffix;
        std::string expected; // relative to the temporary folder
    } cases[] = {
        {"srv", "app", "main", "1", std::string("srv") + kSep + "app_main_1.log"},
        {"a/b/c", nullptr, "name", nullptr, std::string("a/b/c") + kSep + "name.log"},
        {"s2", "", "name", "", std::string("s2") + kSep + "name.log"},
        {"s3", "p", "", nullptr, std::string("s3") + kSep + "p_.log"},
        {"s4", nullptr, "n", "x", std::string("s4") + kSep + "n_x.log"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected);
        cQV_Error err;
        cQV_Log *log =
            cQV_Log::Create(&err, root_.string().c_str(), c.subDir, c.prefix, c.name, c.suffix);
        ASSERT_NE(log, nullptr) << static_cast<const char *>(err.text);
        cQV_Log::Log(log, 0, "f.cpp", 1, "in %s", c.expected.c_str());
        delete log;
        const std::string file = Path(c.expected);
        ASSERT_TRUE(fs::is_regular_file(file));
        EXPECT_NE(ReadText(file).find("MSG:in " + c.expected + "\n\n"), std::string::npos);
    }

    // A dir that ends with a separator gets no second one.
    cQV_Log *log = cQV_Log::Create(nullptr, (root_.string() + kSep).c_str(), "t", "", "n", "");
    ASSERT_NE(log, nullptr);
    delete log;
    EXPECT_TRUE(fs::is_regular_file(Path(std::string("t") + kSep + "n.log")));
}

TEST_F(LogTest, FolderFormFailsWhenTheFolderCannotBeMade) {
    const std::string blocker = Path("plain-file");
    {
        std::ofstream f(blocker);
        f << "not a folder";
    }
    cQV_Error err;
    cQV_Log *log = cQV_Log::Create(&err, blocker.c_str(), "sub", "p", "n", "s");
    EXPECT_EQ(log, nullptr);
    EXPECT_EQ(err.code, 3);
    EXPECT_STREQ(err.file, "osio");
    EXPECT_EQ(
        std::string(static_cast<const char *>(err.text)).rfind("Failed to create directory ", 0),
        0u);
    delete log;
}

// ---- concurrency

TEST_F(LogTest, EightThreadsWriteWholeUninterleavedRecords) {
    const int kThreads = 8;
    const int kRecords = 500;
    const std::string path = Path("threads.log");
    cQV_Log *log = cQV_Log::Create(nullptr, path.c_str());
    ASSERT_NE(log, nullptr);
    const std::string payload(120, '#');
    std::vector<unsigned> ids(kThreads, 0);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ids[t] = Quorvel::osGetCurrentThreadId();
            ++ready;
            while (ready.load() < kThreads)
                std::this_thread::yield();
            for (int r = 0; r < kRecords; ++r)
                cQV_Log::Log(log, 1, "thread.cpp", t, "thread %d record %d %s", t, r,
                             payload.c_str());
        });
    }
    for (std::thread &th : threads)
        th.join();
    delete log;

    std::vector<Entry> entries;
    std::string where;
    ASSERT_TRUE(Parse(ReadText(path), entries, where)) << where;
    ASSERT_EQ(entries.size(), static_cast<size_t>(kThreads * kRecords));
    std::vector<int> next(kThreads, 0);
    for (const Entry &e : entries) {
        int t = -1, r = -1;
        char rest[200] = {0};
        ASSERT_EQ(std::sscanf(e.message.c_str(), "thread %d record %d %199s", &t, &r, rest), 3)
            << e.message;
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(r, next[t]) << "thread " << t << " records out of order";
        next[t] = r + 1;
        EXPECT_EQ(rest, payload);
        EXPECT_EQ(e.thread, Hex(ids[t]));
        EXPECT_EQ(e.line, std::to_string(t));
        EXPECT_FALSE(e.notice);
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(next[t], kRecords);
}

// Two instances of a program that get one log file name (as from the folder form of Create) append
// to it at the same time: each record lands whole at the end, none overwrites another.
TEST_F(LogTest, TwoProcessesAppendEveryRecordWhole) {
    const int kRecords = 2000;
    const std::string path = Path("shared.log");
    const std::string go = Path("go");
    const char *const tags[] = {"alpha", "omega"};
    // Filled before the runners start: they read it while the main thread waits.
    const std::vector<std::string> ready = {Path(std::string(tags[0]) + ".ready"),
                                            Path(std::string(tags[1]) + ".ready")};
    std::vector<qvtest::RunResult> results(2);
    std::vector<std::thread> runners;
    for (int i = 0; i < 2; ++i) {
        const fs::path scratch = root_ / tags[i];
        fs::create_directories(scratch);
        runners.emplace_back([&, i, scratch] {
            results[i] = qvtest::RunProgram(qvtest::ProgramPath("qv_log_writer"),
                                            {path, tags[i], std::to_string(kRecords), ready[i], go},
                                            scratch);
        });
    }
    // Both writers hold the log open before either writes (bounded: the writers give up after
    // 30 s without the signal to start).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((!fs::exists(ready[0]) || !fs::exists(ready[1])) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::ofstream(go).put('1');
    for (std::thread &t : runners)
        t.join();
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(results[i].code, 0) << tags[i] << ": " << results[i].err;

    std::vector<Entry> entries;
    std::string where;
    ASSERT_TRUE(Parse(ReadText(path), entries, where)) << where;
    EXPECT_EQ(entries.size(), static_cast<size_t>(2 * kRecords));
    int next[2] = {0, 0};
    for (const Entry &e : entries) {
        char tag[16] = {0}, rest[128] = {0};
        int r = -1;
        ASSERT_EQ(std::sscanf(e.message.c_str(), "%15s record %d %127s", tag, &r, rest), 3)
            << e.message;
        const int i = std::string(tag) == tags[0] ? 0 : 1;
        ASSERT_EQ(std::string(tag), tags[i]) << e.message;
        EXPECT_EQ(r, next[i]) << tags[i] << " records lost or out of order";
        next[i] = r + 1;
        EXPECT_EQ(std::string(rest), std::string(100, tags[i][0]));
        EXPECT_EQ(e.line, std::to_string(r));
    }
    EXPECT_EQ(next[0], kRecords);
    EXPECT_EQ(next[1], kRecords);
}

} // namespace
