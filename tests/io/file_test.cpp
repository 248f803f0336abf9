// File handles, line reading, whole-file text reading, deletion and file times.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "io_test_util.h"
#include "qv_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

using namespace Quorvel;

namespace {

void *const kInvalid = reinterpret_cast<void *>(-1);

class FileTest : public iotest::TempDirTest {};

TEST_F(FileTest, OpenWriteReadClose) {
    EXPECT_EQ(kInvalid, osFileOpen(Path("missing").c_str(), 1, 0));

    void *h = osFileOpen(Path("f").c_str(), 2 | 4, 0x100);
    ASSERT_NE(kInvalid, h);
    unsigned written = 0;
    ASSERT_TRUE(osFileWrite(h, reinterpret_cast<const unsigned char *>("hello"), 5, written));
    EXPECT_EQ(5u, written);
    EXPECT_TRUE(osFlushFileBuffers(h));
    ASSERT_TRUE(osFileClose(h));
    EXPECT_EQ(kInvalid, h);
    EXPECT_FALSE(osFileClose(h)); // a second close finds the invalid handle
    EXPECT_EQ("hello", ReadFile("f"));

    // Create empties an existing file.
    h = osFileOpen(Path("f").c_str(), 1 | 2 | 4, 0);
    ASSERT_NE(kInvalid, h);
    EXPECT_EQ(0, osFileSize(h));
    osFileClose(h);

    // Every handle operation refuses the invalid handle.
    unsigned char b[4];
    unsigned n = 7;
    EXPECT_FALSE(osFileRead(kInvalid, b, 4, n));
    EXPECT_FALSE(osFileWrite(kInvalid, b, 4, n));
    EXPECT_FALSE(osFlushFileBuffers(kInvalid));
    EXPECT_EQ(-1, osFileSeek(kInvalid, 0, eFileSeekBegin));
    EXPECT_EQ(-1, osFileTell(kInvalid));
    EXPECT_EQ(-1, osFileSize(kInvalid));
    cQV_String line("keep");
    EXPECT_FALSE(osFileReadLine(kInvalid, line, 0));
    EXPECT_STREQ("keep", (const char *)line);
}

TEST_F(FileTest, ShareModes) {
    // A second reader (itself sharing everything) gets in only where the first handle shares
    // reading. POSIX has no share modes: there every second open succeeds.
    struct {
        int share;
        bool secondReaderAllowed;
    } cases[] = {
        {0x100, true},
        {0x100 | 0x200, true},
#ifdef _WIN32
        {0, false},
        {0x200, false},
#else
        {0, true},
#endif
    };
    for (const auto &c : cases) {
        void *writer = osFileOpen(Path("shared").c_str(), 2 | 4, c.share);
        ASSERT_NE(kInvalid, writer);
        void *reader = osFileOpen(Path("shared").c_str(), 1, 0x100 | 0x200);
        EXPECT_EQ(c.secondReaderAllowed, reader != kInvalid) << "share " << c.share;
        if (reader != kInvalid) osFileClose(reader);
        osFileClose(writer);
    }
}

TEST_F(FileTest, ReadAtEndAndReadOnlyHandle) {
    WriteFile("f", "abc");
    void *h = osFileOpen(Path("f").c_str(), 1, 0);
    ASSERT_NE(kInvalid, h);
    unsigned char buf[8];
    unsigned n = 0;
    ASSERT_TRUE(osFileRead(h, buf, sizeof buf, n));
    EXPECT_EQ(3u, n);
    ASSERT_TRUE(osFileRead(h, buf, sizeof buf, n));
    EXPECT_EQ(0u, n); // end of file
    unsigned written = 9;
    EXPECT_FALSE(osFileWrite(h, buf, 1, written)); // opened for reading only
    osFileClose(h);
}

TEST_F(FileTest, DirectoryCannotBeOpenedAsFile) {
    EXPECT_EQ(kInvalid, osFileOpen(Path().c_str(), 1, 0));
}

// A lock creates its lock file and can be taken again once released; a lock file that cannot
// be created is reported. (Exclusion between processes is tested through qvos cfg.)
TEST_F(FileTest, LockFile) {
    cQV_Error err;
    void *lock = osLockFile(&err, Path("a.lock").c_str(), 1000);
    ASSERT_NE(lock, nullptr) << err.text;
    EXPECT_TRUE(std::filesystem::exists(Path("a.lock")));
    osUnlockFile(lock);
    EXPECT_EQ(lock, nullptr);
    lock = osLockFile(&err, Path("a.lock").c_str(), 1000);
    ASSERT_NE(lock, nullptr) << err.text;
    osUnlockFile(lock);

    std::string bad = Path("no/such/folder/a.lock");
    EXPECT_EQ(osLockFile(&err, bad.c_str(), 10), nullptr);
    EXPECT_EQ(err.code, 3);
    EXPECT_STREQ(err.file, "osio");
    EXPECT_EQ(std::string(err.text).rfind("Failed to lock file [" + bad + "]. ", 0), 0u)
        << err.text;
}

TEST_F(FileTest, SeekTellSize) {
    WriteFile("f", "0123456789");
    void *h = osFileOpen(Path("f").c_str(), 1, 0);
    ASSERT_NE(kInvalid, h);
    EXPECT_EQ(4, osFileSeek(h, 4, eFileSeekBegin));
    EXPECT_EQ(10, osFileSize(h));
    EXPECT_EQ(4, osFileTell(h)); // the size query leaves the position alone
    EXPECT_EQ(10, osFileSeek(h, 0, eFileSeekEnd));
    EXPECT_EQ(7, osFileSeek(h, -3, eFileSeekCurrent));
    EXPECT_EQ(2, osFileSeek(h, 2, static_cast<eQV_FileSeek>(7))); // unknown origin: the start
    EXPECT_EQ(-1, osFileSeek(h, -1, eFileSeekBegin));
    EXPECT_EQ(2, osFileTell(h));
    EXPECT_EQ(1LL << 33, osFileSeek(h, 1LL << 33, eFileSeekBegin)); // 64-bit offsets
    osFileClose(h);
}

TEST_F(FileTest, HandlesAreNotInherited) {
    WriteFile("f", "x");
    void *h = osFileOpen(Path("f").c_str(), 1, 0);
    ASSERT_NE(kInvalid, h);
#ifdef _WIN32
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(h, &flags));
    EXPECT_EQ(0u, flags & HANDLE_FLAG_INHERIT);
#else
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(h));
    EXPECT_NE(0, fcntl(fd, F_GETFD) & FD_CLOEXEC);
#endif
    osFileClose(h);
}

// ---- osFileReadLine ----

// The line reader as first described: 4-byte chunks, then a second pass that
// reads the line. Our reader scans in larger chunks and must agree with it on
// every result and every position.
struct LineResult {
    bool ok;
    std::string line;
    size_t pos;
};

LineResult referenceReadLine(const std::string &data, size_t pos, unsigned maxLen,
                             const std::string &prevLine) {
    unsigned limit = maxLen ? maxLen : 65535;
    size_t length = 0, p = pos;
    for (;;) {
        unsigned want = limit < 4 ? limit : 4;
        size_t got = std::min<size_t>(want, data.size() - p);
        if (got == 0) break; // end of file
        bool stop = false;
        for (size_t i = 0; i < got; ++i) {
            if (data[p + i] == '\n' || data[p + i] == 0) {
                length += i + 1;
                stop = true;
                break;
            }
        }
        if (stop) break;
        length += got;
        p += got;
        limit -= static_cast<unsigned>(got);
        if (limit == 0) return {false, prevLine, pos};
    }
    std::string line = data.substr(pos, length);
    if (line.size() > 1 && line.back() == '\n') {
        line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    line = std::string(line.c_str()); // the text ends at a NUL byte
    return {true, line, pos + length};
}

class ReadLineTest : public iotest::TempDirTest {
protected:
    // Reads lines from the start of data; returns the results of `calls` calls.
    std::vector<LineResult> Read(const std::string &data, unsigned maxLen, int calls) {
        WriteFile("lines", data);
        void *h = osFileOpen(Path("lines").c_str(), 1, 0);
        EXPECT_NE(kInvalid, h);
        std::vector<LineResult> out;
        cQV_String line("previous");
        for (int i = 0; i < calls; ++i) {
            bool ok = osFileReadLine(h, line, maxLen);
            out.push_back({ok, std::string(line), static_cast<size_t>(osFileTell(h))});
        }
        osFileClose(h);
        return out;
    }
};

TEST_F(ReadLineTest, LineEndsAndEndOfFile) {
    std::string data("ab\r\nc\n\nd", 8);
    auto r = Read(data, 0, 6);
    const LineResult expected[] = {
        {true, "ab", 4}, {true, "c", 6}, {true, "\n", 7}, // a lone LF stays
        {true, "d", 8},  {true, "", 8},  {true, "", 8},   // end of file: true, empty
    };
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(expected[i].ok, r[i].ok) << "call " << i;
        EXPECT_EQ(expected[i].line, r[i].line) << "call " << i;
        EXPECT_EQ(expected[i].pos, r[i].pos) << "call " << i;
    }
}

TEST_F(ReadLineTest, LimitsAndTerminators) {
    struct {
        std::string data;
        unsigned maxLen;
        bool ok;
        std::string line;
        size_t pos;
    } cases[] = {
        {"abc\n", 3, false, "previous", 0}, // the LF counts against the limit
        {"abc\n", 4, true, "abc", 4},
        {"123456789\n", 10, true, "123456789", 10},
        {"1234567890\n", 10, false, "previous", 0},
        {"abcd", 4, false, "previous", 0},              // no terminator within the limit
        {"abcd", 5, true, "abcd", 4},                   // end of file before the limit
        {std::string("ab\0cd\n", 6), 0, true, "ab", 3}, // a NUL ends the line
        {"\r\n", 0, true, "", 2},
        {"x\r\r\n", 0, true, "x\r", 4}, // one CR goes with the LF
        {std::string(65534, 'a') + "\n", 0, true, std::string(65534, 'a'), 65535},
        {std::string(65535, 'a') + "\n", 0, false, "previous", 0},
        {std::string(70000, 'b') + "\n", 70001, true, std::string(70000, 'b'), 70001},
    };
    for (const auto &c : cases) {
        auto r = Read(c.data, c.maxLen, 1);
        EXPECT_EQ(c.ok, r[0].ok) << "size " << c.data.size() << " maxLen " << c.maxLen;
        EXPECT_EQ(c.line, r[0].line) << "size " << c.data.size() << " maxLen " << c.maxLen;
        EXPECT_EQ(c.pos, r[0].pos) << "size " << c.data.size() << " maxLen " << c.maxLen;
    }
}

TEST_F(ReadLineTest, AgreesWithFourByteScanOnRandomData) {
    std::mt19937 rng(12345);
    const char alphabet[] = {'a', 'b', '\r', '\n', '\0', 'z'};
    for (int round = 0; round < 60; ++round) {
        // Short and long lines, so that lines cross the reader's chunk edges.
        std::string data;
        size_t size = rng() % (round % 3 == 0 ? 20000 : 300);
        for (size_t i = 0; i < size; ++i) {
            unsigned r = rng() % 100;
            data += r < 90 ? 'a' + static_cast<char>(rng() % 3) : alphabet[rng() % 6];
        }
        unsigned maxLen = round % 4 == 0 ? 0 : 1 + rng() % 6000;
        auto got = Read(data, maxLen, 40);
        size_t pos = 0;
        std::string prev = "previous";
        for (size_t i = 0; i < got.size(); ++i) {
            LineResult want = referenceReadLine(data, pos, maxLen, prev);
            ASSERT_EQ(want.ok, got[i].ok) << "round " << round << " call " << i;
            ASSERT_EQ(want.line, got[i].line) << "round " << round << " call " << i;
            ASSERT_EQ(want.pos, got[i].pos) << "round " << round << " call " << i;
            pos = want.pos;
            prev = want.line;
        }
    }
}

// ---- osReadFileTxt ----

TEST_F(FileTest, ReadFileTxt) {
    WriteFile("three", "abc");
    WriteFile("ten", "0123456789");
    WriteFile("crlf", "a\r\nb");
    struct {
        const char *name;
        unsigned maxSize;
        const char *text;
    } cases[] = {
        {"three", 5, "abc"},
        {"ten", 5, "01234"},
        {"ten", 0, ""},
        {"crlf", 100, "a\r\nb"},
    };
    for (const auto &c : cases) {
        cQV_Error err;
        cQV_String text("old");
        EXPECT_TRUE(osReadFileTxt(&err, Path(c.name).c_str(), text, c.maxSize)) << c.name;
        EXPECT_STREQ(c.text, (const char *)text) << c.name;
        EXPECT_EQ(0, err.code);
    }

    cQV_Error err;
    cQV_String text("old");
    std::string missing = Path("missing");
    EXPECT_FALSE(osReadFileTxt(&err, missing.c_str(), text, 10));
    EXPECT_EQ(3, err.code);
    EXPECT_STREQ("osio", (const char *)err.file);
    EXPECT_EQ("Failed to open file [" + missing + "]", (const char *)err.text);
    EXPECT_STREQ("old", (const char *)text);
}

TEST_F(FileTest, ReadFileTxtClosesTheFile) {
    // The file is opened without sharing; a leaked handle would keep it from being deleted
    // on Windows, and would show as an open descriptor on POSIX.
    WriteFile("f", "abc");
    cQV_String text;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(osReadFileTxt(nullptr, Path("f").c_str(), text, 10));
    void *h = osFileOpen(Path("f").c_str(), 1 | 2, 0);
    ASSERT_NE(kInvalid, h);
    osFileClose(h);
    EXPECT_TRUE(osDeleteFile(nullptr, Path("f").c_str()));
}

// ---- osDeleteFile, file times ----

TEST_F(FileTest, DeleteFile) {
    WriteFile("f", "x");
    cQV_Error err;
    EXPECT_TRUE(osDeleteFile(&err, Path("f").c_str()));
    EXPECT_FALSE(iotest::fs::exists(Path("f")));

    std::string missing = Path("f");
    EXPECT_FALSE(osDeleteFile(&err, missing.c_str()));
    EXPECT_EQ(3, err.code);
    std::string prefix = "Failed to delete file [" + missing + "]. GetLastError()=";
    EXPECT_EQ(prefix, std::string(err.text).substr(0, prefix.size())) << (const char *)err.text;
}

// The stored modification and access times in seconds since 1970, read with the system's own
// calls so that the functions under test are not used to judge themselves.
bool StoredTimes(const std::string &path, long long &modified, long long &accessed) {
#ifdef _WIN32
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME access, write;
    const bool ok = GetFileTime(h, nullptr, &access, &write) != FALSE;
    CloseHandle(h);
    auto seconds = [](const FILETIME &ft) {
        const unsigned long long ticks =
            (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        return static_cast<long long>(ticks / 10000000u) - 11644473600LL;
    };
    modified = seconds(write);
    accessed = seconds(access);
    return ok;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    modified = static_cast<long long>(st.st_mtime);
    accessed = static_cast<long long>(st.st_atime);
    return true;
#endif
}

TEST_F(FileTest, FileTimesAreSecondsSince1970Utc) {
    WriteFile("f", "x");
    iotest::fs::create_directory(Path("folder"));
    unsigned t = 0;
    cQV_Error err;
    ASSERT_TRUE(osGetFileTime(&err, Path("f").c_str(), t));
    long long now = static_cast<long long>(std::time(nullptr));
    EXPECT_LE(std::llabs(now - static_cast<long long>(t)), 120) << "no time-zone offset";

    // A file and a folder alike; 4e9 is past 2038. 1142856000 is 2006-03-20 12:00 UTC, in another
    // daylight-saving season than most days of the year.
    for (const char *name : {"f", "folder"}) {
        for (unsigned when : {1000000000u, 86400u, 1142856000u, 4000000000u}) {
            SCOPED_TRACE(testing::Message() << name << " " << when);
            ASSERT_TRUE(osSetFileTime(&err, Path(name).c_str(), when)) << (const char *)err.text;
            ASSERT_TRUE(osGetFileTime(&err, Path(name).c_str(), t));
            EXPECT_EQ(when, t);
            long long modified = 0, accessed = 0;
            ASSERT_TRUE(StoredTimes(Path(name), modified, accessed));
            EXPECT_EQ(static_cast<long long>(when), modified);
            EXPECT_EQ(static_cast<long long>(when), accessed);
        }
    }

    std::string missing = Path("missing");
    EXPECT_FALSE(osGetFileTime(&err, missing.c_str(), t));
    EXPECT_EQ("File not found:" + missing, (const char *)err.text);
    err.Reset();
    EXPECT_FALSE(osSetFileTime(&err, missing.c_str(), 5));
    EXPECT_EQ(3, err.code);
    EXPECT_EQ("File not found:" + missing, (const char *)err.text);
}

} // namespace
