// The file stream over real temporary files: messages, numbers, the end indicator, shared copies,
// inheritance, large positions and a device that fills up.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "qv_storage.h"
#include "storage_test_util.h"

#ifndef _WIN32
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace Quorvel;
namespace fs = std::filesystem;

namespace {

const unsigned char *U(const char *s) {
    return reinterpret_cast<const unsigned char *>(s);
}

class FileIO : public storagetest::TempDirTest {
protected:
    void ExpectStatus(cFileIO &io, const std::string &text) {
        EXPECT_EQ(io.GetStatus().code, 3);
        EXPECT_STREQ(io.GetStatus().file, "osstorage");
        EXPECT_EQ(std::string(io.GetStatus().text), text);
    }
};

} // namespace

TEST_F(FileIO, EveryOperationOfAStreamNeverOpenedFails) {
    struct Op {
        const char *name;
        bool (*call)(cFileIO &);
    } ops[] = {
        {"Tell", [](cFileIO &f) { return f.Tell() != 0; }},
        {"Seek", [](cFileIO &f) { return f.Seek(0); }},
        {"WriteBytes", [](cFileIO &f) { return f.WriteBytes(1, U("x")); }},
        {"WriteUlong", [](cFileIO &f) { return f.WriteUlong(1); }},
        {"WriteLong", [](cFileIO &f) { return f.WriteLong(1); }},
        {"WriteFlush", [](cFileIO &f) { return f.WriteFlush(); }},
        {"ReadBytes",
         [](cFileIO &f) {
             unsigned char b;
             return f.ReadBytes(1, &b);
         }},
        {"ReadUlong",
         [](cFileIO &f) {
             unsigned v;
             return f.ReadUlong(v);
         }},
        {"ReadLong",
         [](cFileIO &f) {
             int v;
             return f.ReadLong(v);
         }},
        {"IsEof", [](cFileIO &f) { return f.IsEof(); }},
    };
    for (const Op &op : ops) {
        cFileIO io;
        EXPECT_FALSE(op.call(io)) << op.name;
        ExpectStatus(io, "No file opened");
        EXPECT_TRUE(io.Close()) << op.name;
    }
}

TEST_F(FileIO, OpenFailureNamesPathAndModeAndKeepsThePreviousPath) {
    const std::string good = Path("good.dat"), missing = Path("none/x.dat");
    cFileIO io;
    ASSERT_TRUE(io.Open(good.c_str(), "wb"));
    EXPECT_FALSE(io.Open(missing.c_str(), "rb"));
    ExpectStatus(io, "Files to open file [" + missing + "] with mode [rb]");
    // The open file was closed by the failed Open; the message of the next failure still names
    // the path of the last successful one.
    EXPECT_FALSE(io.WriteFlush());
    io.GetStatus().Reset();
    EXPECT_FALSE(io.WriteFlush());
    ExpectStatus(io, "No file opened");
    EXPECT_TRUE(io.Close());
}

TEST_F(FileIO, NumbersAndBytesAreStoredAsTheyAreWritten) {
    const std::string path = Path("n.dat");
    {
        cFileIO io;
        ASSERT_TRUE(io.Open(path.c_str(), "wb"));
        EXPECT_TRUE(io.WriteUlong(12));
        EXPECT_TRUE(io.WriteLong(-5));
        EXPECT_TRUE(io.WriteUlong(0));
        EXPECT_TRUE(io.WriteBytes(0, nullptr));
        EXPECT_TRUE(io.WriteBytes(2, U(" \n")));
        EXPECT_TRUE(io.WriteLong(-2147483647 - 1));
        EXPECT_TRUE(io.WriteBytes(1, U(" ")));
        EXPECT_TRUE(io.WriteUlong(4294967295u));
        EXPECT_EQ(io.Tell(), 29u);
        EXPECT_TRUE(io.Close());
    }
    EXPECT_EQ(ReadFile("n.dat"), "12-50 \n-2147483648 4294967295");
}

struct FileScanCase {
    const char *text;
    bool isSigned, ok;
    long long value;
};

void PrintTo(const FileScanCase &c, std::ostream *os) {
    *os << (c.isSigned ? "int " : "unsigned ") << storagetest::Printable(c.text);
}

class FileScan : public storagetest::TempDirTest,
                 public ::testing::WithParamInterface<FileScanCase> {};

// Formatted input: white space first, an optional sign, any count of digits; out of range
// saturates, the same on every platform.
TEST_P(FileScan, ReadsLikeFormattedInputAndSaturates) {
    const FileScanCase &c = GetParam();
    WriteFile("s.dat", c.text);
    cFileIO io;
    ASSERT_TRUE(io.Open(Path("s.dat").c_str(), "rb"));
    bool ok;
    long long got;
    if (c.isSigned) {
        int v = 0;
        ok = io.ReadLong(v);
        got = v;
    } else {
        unsigned v = 0;
        ok = io.ReadUlong(v);
        got = v;
    }
    EXPECT_EQ(ok, c.ok) << c.text;
    if (ok)
        EXPECT_EQ(got, c.value) << c.text;
    else
        EXPECT_EQ(std::string(io.GetStatus().text),
                  std::string(c.isSigned ? "Failed to read int from file ["
                                         : "Failed to read tUlong from file [") +
                      Path("s.dat") + "]");
}

INSTANTIATE_TEST_SUITE_P(
    FileIO, FileScan,
    ::testing::Values(
        FileScanCase{" 7", false, true, 7}, FileScanCase{"\t\r\n 42;", false, true, 42},
        FileScanCase{"+9", false, true, 9}, FileScanCase{"4294967295", false, true, 4294967295ll},
        FileScanCase{"4294967296", false, true, 4294967295ll},
        FileScanCase{"123456789012345678901234", false, true, 4294967295ll},
        FileScanCase{"-5", false, false, 0}, FileScanCase{"x", false, false, 0},
        FileScanCase{"", false, false, 0},
        FileScanCase{" -2147483648", true, true, -2147483647ll - 1},
        FileScanCase{"-2147483649", true, true, -2147483647ll - 1},
        FileScanCase{"-99999999999999999999", true, true, -2147483647ll - 1},
        FileScanCase{"2147483648", true, true, 2147483647}, FileScanCase{"+12", true, true, 12},
        FileScanCase{"-x", true, false, 0}, FileScanCase{"- 1", true, false, 0}));

TEST_F(FileIO, NumbersReadUpToTheFirstOtherByte) {
    WriteFile("m.dat", "12;-34 56");
    cFileIO io;
    ASSERT_TRUE(io.Open(Path("m.dat").c_str(), "rb"));
    unsigned a = 0, c = 0;
    int b = 0;
    unsigned char sep = 0;
    ASSERT_TRUE(io.ReadUlong(a));
    EXPECT_EQ(io.Tell(), 2u);
    ASSERT_TRUE(io.ReadBytes(1, &sep));
    EXPECT_EQ(sep, ';');
    ASSERT_TRUE(io.ReadLong(b));
    ASSERT_TRUE(io.ReadUlong(c));
    EXPECT_EQ(a, 12u);
    EXPECT_EQ(b, -34);
    EXPECT_EQ(c, 56u);
    EXPECT_TRUE(io.IsEof()); // the last number's scan looked past the end
}

TEST_F(FileIO, EndIsReportedOnlyAfterAReadTriedToPassIt) {
    WriteFile("e.dat", "ab");
    cFileIO io;
    ASSERT_TRUE(io.Open(Path("e.dat").c_str(), "rb"));
    unsigned char b[4];
    ASSERT_TRUE(io.ReadBytes(2, b));
    EXPECT_FALSE(io.IsEof());
    EXPECT_FALSE(io.ReadBytes(1, b));
    ExpectStatus(io, "Failed to read 1 bytes from file [" + Path("e.dat") + "]");
    // Not subject to the sticky status.
    EXPECT_TRUE(io.IsEof());
}

TEST_F(FileIO, AFailureIsStickyUntilOpenOrReset) {
    WriteFile("k.dat", "x5");
    cFileIO io;
    ASSERT_TRUE(io.Open(Path("k.dat").c_str(), "r+b"));
    unsigned v = 0;
    EXPECT_FALSE(io.ReadUlong(v));
    const std::string first = static_cast<const char *>(io.GetStatus().text);
    EXPECT_EQ(io.Tell(), 0u);
    EXPECT_FALSE(io.Seek(0));
    EXPECT_FALSE(io.WriteBytes(1, U("y")));
    EXPECT_FALSE(io.WriteUlong(1));
    EXPECT_FALSE(io.WriteFlush());
    EXPECT_EQ(std::string(io.GetStatus().text), first);

    io.GetStatus().Reset();
    ASSERT_TRUE(io.Seek(1));
    ASSERT_TRUE(io.ReadUlong(v));
    EXPECT_EQ(v, 5u);

    ASSERT_FALSE(io.Seek(0) && io.ReadUlong(v));
    ASSERT_TRUE(io.Open(Path("k.dat").c_str(), "rb")); // clears the status
    EXPECT_TRUE(io.GetStatus().IsNotError());
    unsigned char b;
    ASSERT_TRUE(io.ReadBytes(1, &b));
    EXPECT_EQ(b, 'x');
}

TEST_F(FileIO, CopiesShareTheFileAndTheLastOwnerClosesIt) {
    const std::string path = Path("c.dat");
    cFileIO a;
    ASSERT_TRUE(a.Open(path.c_str(), "wb"));
    ASSERT_TRUE(a.WriteBytes(3, U("one")));
    {
        cFileIO b(a);
        ASSERT_TRUE(b.WriteBytes(3, U("two")));
        EXPECT_TRUE(b.Close()); // a still owns the file
        EXPECT_FALSE(b.WriteFlush());
    }
    { cFileIO c(a); } // destroyed: the file stays open for a
    ASSERT_TRUE(a.WriteBytes(5, U("three")));
    EXPECT_EQ(ReadFile("c.dat"), ""); // all still buffered in the one shared stream
    EXPECT_TRUE(a.Close());           // the last owner: closed and flushed
    EXPECT_EQ(ReadFile("c.dat"), "onetwothree");
}

TEST_F(FileIO, AssignmentGivesUpTheTargetsFile) {
    cFileIO a, b;
    ASSERT_TRUE(a.Open(Path("a.dat").c_str(), "wb"));
    ASSERT_TRUE(b.Open(Path("b.dat").c_str(), "wb"));
    ASSERT_TRUE(b.WriteBytes(4, U("bbbb")));
    b = a; // b was the only owner of b.dat: it is closed, so its bytes reach the file
    EXPECT_EQ(ReadFile("b.dat"), "bbbb");
    ASSERT_TRUE(b.WriteBytes(2, U("ab")));
    a = b; // the same file: nothing closes
    ASSERT_TRUE(a.WriteBytes(1, U("a")));
    EXPECT_TRUE(b.Close());
    EXPECT_TRUE(a.Close());
    EXPECT_EQ(ReadFile("a.dat"), "aba");
}

// The mode string reaches the C runtime with all its meanings: access, update, append.
TEST_F(FileIO, TheModeStringKeepsItsMeaning) {
    WriteFile("m.dat", "abc");
    cFileIO io;
    ASSERT_TRUE(io.Open(Path("m.dat").c_str(), "ab"));
    ASSERT_TRUE(io.WriteBytes(2, U("de")));
    ASSERT_TRUE(io.Open(Path("m.dat").c_str(), "r+b"));
    ASSERT_TRUE(io.Seek(1));
    ASSERT_TRUE(io.WriteBytes(1, U("X")));
    ASSERT_TRUE(io.Close());
    EXPECT_EQ(ReadFile("m.dat"), "aXcde");
    EXPECT_FALSE(io.Open(Path("m.dat").c_str(), "q"));
#ifndef _WIN32
    // Exclusive creation fails on an existing file.
    EXPECT_FALSE(io.Open(Path("m.dat").c_str(), "wxb"));
    EXPECT_EQ(ReadFile("m.dat"), "aXcde");
    ASSERT_TRUE(io.Open(Path("new.dat").c_str(), "wx"));
    EXPECT_TRUE(io.Close());
#endif
}

#ifndef _WIN32
namespace {

// The descriptor flags of the open descriptor that names path, or -1 when there is none.
int DescriptorFlagsOf(const std::string &path) {
    DIR *d = opendir("/proc/self/fd");
    if (!d) return -1;
    int flags = -1;
    while (dirent *e = readdir(d)) {
        char target[4096];
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = 0;
        if (path == target) flags = fcntl(atoi(e->d_name), F_GETFD);
    }
    closedir(d);
    return flags;
}

} // namespace

TEST_F(FileIO, ChildProcessesDoNotInheritTheFile) {
    const std::string path = fs::canonical(root_).string() + "/i.dat";
    for (const char *mode : {"w", "w+b", "ab+", "r", "rb"}) {
        cFileIO io;
        ASSERT_TRUE(io.Open(path.c_str(), mode)) << mode;
        const int flags = DescriptorFlagsOf(path);
        ASSERT_NE(flags, -1) << mode;
        EXPECT_TRUE(flags & FD_CLOEXEC) << mode;
    }
}
#endif

// Positions at and above 2147483648 reach the file: a sparse file of 3 GB.
TEST_F(FileIO, PositionsAboveTwoGigabytesWork) {
    const std::string path = Path("big.dat");
    cFileIO io;
    ASSERT_TRUE(io.Open(path.c_str(), "w+b"));
    const unsigned far = 3000000000u;
    ASSERT_TRUE(io.Seek(far));
    ASSERT_TRUE(io.WriteUlong(77));
    EXPECT_EQ(io.Tell(), far + 2);
    ASSERT_TRUE(io.WriteFlush());
    ASSERT_TRUE(io.Seek(far));
    unsigned v = 0;
    ASSERT_TRUE(io.ReadUlong(v));
    EXPECT_EQ(v, 77u);
    EXPECT_TRUE(io.Seek(4294967295u));
    EXPECT_EQ(io.Tell(), 4294967295u);
    EXPECT_TRUE(io.Close());
    std::error_code ec;
    EXPECT_EQ(fs::file_size(path, ec), far + 2);
    fs::remove(path, ec);
}

TEST_F(FileIO, NumbersAreTheSameUnderEveryLocale) {
    storagetest::OtherLocale locale;
    if (!locale.active) GTEST_SKIP() << "no locale with ',' as decimal mark here";
    const std::string path = Path("l.dat");
    cFileIO io;
    ASSERT_TRUE(io.Open(path.c_str(), "w+b"));
    ASSERT_TRUE(io.WriteUlong(1234567));
    ASSERT_TRUE(io.WriteBytes(1, U(" ")));
    ASSERT_TRUE(io.WriteLong(-7654321));
    ASSERT_TRUE(io.Seek(0));
    unsigned u = 0;
    int s = 0;
    ASSERT_TRUE(io.ReadUlong(u));
    ASSERT_TRUE(io.ReadLong(s));
    EXPECT_EQ(u, 1234567u);
    EXPECT_EQ(s, -7654321);
    EXPECT_TRUE(io.Close());
    EXPECT_EQ(ReadFile("l.dat"), "1234567 -7654321");
}

#ifndef _WIN32
namespace {

// Runs body with the process's file-size limit at limit bytes and SIGXFSZ ignored, so that writes
// past the limit fail with EFBIG as on a full device; the limit and the signal are restored.
template <typename F> void WithFileSizeLimit(rlim_t limit, F body) {
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = limit;
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    body();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
}

} // namespace

TEST_F(FileIO, WritesToAFullDeviceFailWithTheirMessages) {
    const std::string path = Path("full.dat");
    const std::string big(64 * 1024, 'x');
    WithFileSizeLimit(16 * 1024, [&] {
        // A write larger than the stream's buffer reaches the device at once.
        cFileIO io;
        ASSERT_TRUE(io.Open(path.c_str(), "wb"));
        EXPECT_FALSE(io.WriteBytes(static_cast<unsigned>(big.size()), U(big.c_str())));
        ExpectStatus(io, "Failed to write [65536] bytes to file [" + path + "]");
        EXPECT_FALSE(io.WriteUlong(1)); // sticky
        io.Close();

        // A small write stays in the buffer; the flush finds the device full.
        ASSERT_TRUE(io.Open(path.c_str(), "wb"));
        ASSERT_TRUE(io.WriteBytes(16 * 1024, U(big.c_str())));
        ASSERT_TRUE(io.WriteFlush());
        ASSERT_TRUE(io.WriteUlong(12345));
        EXPECT_FALSE(io.WriteFlush());
        ExpectStatus(io, "Failed to flush data into file [" + path + "]");
        io.Close();

        // Buffered bytes that cannot be written make the close fail.
        ASSERT_TRUE(io.Open(path.c_str(), "wb"));
        ASSERT_TRUE(io.WriteBytes(16 * 1024, U(big.c_str())));
        ASSERT_TRUE(io.WriteFlush());
        ASSERT_TRUE(io.WriteLong(-1));
        EXPECT_FALSE(io.Close());
        ExpectStatus(io, "Files to close file [" + path + "]");
        // The file is gone from the stream either way.
        io.GetStatus().Reset();
        EXPECT_FALSE(io.WriteFlush());
        ExpectStatus(io, "No file opened");
    });
}
#endif

// A seek back over the byte just read (how separators are skipped) and the operations after it.
TEST_F(FileIO, SeekingBackOverTheLastByteReadKeepsEveryPosition) {
    WriteFile("p.dat", "ab;cd");
    cFileIO io;
    ASSERT_TRUE(io.Open(Path("p.dat").c_str(), "r+b"));
    unsigned char b[8] = {};
    ASSERT_TRUE(io.ReadBytes(2, b));
    ASSERT_TRUE(io.Seek(1));
    EXPECT_EQ(io.Tell(), 1u);
    ASSERT_TRUE(io.ReadBytes(1, b));
    EXPECT_EQ(b[0], 'b');
    ASSERT_TRUE(io.Seek(1));
    // Writing right after the seek back writes at its position.
    ASSERT_TRUE(io.WriteBytes(1, U("X")));
    EXPECT_EQ(io.Tell(), 2u);
    ASSERT_TRUE(io.Seek(2));
    ASSERT_TRUE(io.ReadBytes(1, b));
    ASSERT_TRUE(io.Seek(2));
    ASSERT_TRUE(io.WriteUlong(7));
    ASSERT_TRUE(io.Seek(4));
    ASSERT_TRUE(io.ReadBytes(1, b));
    ASSERT_TRUE(io.Seek(4));
    ASSERT_TRUE(io.WriteFlush());
    ASSERT_TRUE(io.WriteLong(-1));
    ASSERT_TRUE(io.Seek(0));
    ASSERT_TRUE(io.ReadBytes(6, b));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b), 6), "aX7c-1");
    // At the end: the seek back clears the end indicator, as a seek does.
    ASSERT_TRUE(io.Seek(5));
    ASSERT_TRUE(io.ReadBytes(1, b));
    EXPECT_FALSE(io.ReadBytes(1, b));
    EXPECT_TRUE(io.IsEof());
    io.GetStatus().Reset();
    ASSERT_TRUE(io.Seek(5));
    EXPECT_FALSE(io.IsEof());
    // A copy shares the position, the pushed-back byte included.
    ASSERT_TRUE(io.ReadBytes(1, b));
    ASSERT_TRUE(io.Seek(5));
    cFileIO copy(io);
    ASSERT_TRUE(copy.ReadBytes(1, b));
    EXPECT_EQ(b[0], '1');
    EXPECT_TRUE(io.Close());
    EXPECT_TRUE(copy.Close());
    EXPECT_EQ(ReadFile("p.dat"), "aX7c-1");
}
