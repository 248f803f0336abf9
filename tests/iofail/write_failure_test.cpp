// Writes the system refuses, for every writer of the library: a full device (a node of the test's
// own folder that takes no byte) and a file-size limit (RLIMIT_FSIZE, in a child process only).
// Each writer must report the loss with its own message, never claim bytes it could not store,
// and a failed save of a configuration file must leave the file it was to replace as it was.
//
// Neither failure can be made on Windows (no device of that kind, no size limit), so these tests
// are POSIX-only; there the binary holds no test.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "qv_cfg.h"
#include "qv_error.h"
#include "qv_file.h"
#include "qv_log.h"
#include "qv_storage.h"
#include "support/qvtest.h"

using namespace Quorvel;
using qvtest::ReadBytes;
using qvtest::TempDir;
using qvtest::WriteBytes;
namespace fs = std::filesystem;

namespace {

const unsigned char *U(const char *s) {
    return reinterpret_cast<const unsigned char *>(s);
}

std::string Format(const char *fmt, const std::string &path) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, fmt, path.c_str());
    return buf;
}

// One result as the tests compare it: "true", or "false" with the error record's code, module
// and message, so that a mismatch shows everything at once.
std::string Seen(bool ok, const cQV_Error &e) {
    if (ok) return "true";
    return "false, code " + std::to_string(e.code) + ", module " + std::string(e.file) + ": " +
           std::string(e.text);
}
std::string Failure(const char *module, const std::string &text) {
    return "false, code 3, module " + std::string(module) + ": " + text;
}

// The names in the folder, sorted: a save must leave no temporary file behind.
std::string Names(const TempDir &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string &n : names)
        out += n + " ";
    return out;
}

bool IsCharDevice(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

off_t SizeOf(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// A full device made in the test's own folder: it opens for writing and refuses every byte with
// ENOSPC. Empty, with the reason in `why`, when this system will not make one or not open one
// (no privilege, a folder on a file system mounted without devices).
std::string FullDevice(const TempDir &dir, const std::string &name, std::string &why) {
    const std::string node = dir / name;
    if (mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) {
        why = "cannot make a device node here (" + std::string(std::strerror(errno)) +
              "); making one needs the privilege to create device nodes";
        return "";
    }
    int fd = open(node.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        why = "the device node made here cannot be opened (" + std::string(std::strerror(errno)) +
              "); its file system may be mounted without devices";
        unlink(node.c_str());
        return "";
    }
    const bool refuses = write(fd, "x", 1) < 0 && errno == ENOSPC;
    close(fd);
    if (!refuses) {
        why = "the device node made here does not refuse writes as a full device does";
        unlink(node.c_str());
        return "";
    }
    return node;
}

constexpr rlim_t kNoLimit = RLIM_INFINITY;
struct rlimit gChildOldLimit;

// In the child: lifts the file-size limit again, so that a later write shows what was kept back.
void LiftSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &gChildOldLimit);
}

// Runs body in a child process and hands back what it returned. With a limit the child's
// file-size limit is lowered to it first and SIGXFSZ ignored, so that a write past the limit fails
// with EFBIG instead of ending the process. The limit is process-wide: only the child ever has it,
// and this process and its other tests keep theirs. The child leaves through _exit, so nothing of
// this process (buffered output, exit handlers) runs twice.
std::string InChild(rlim_t limit, const std::function<std::string()> &body) {
    int fds[2];
    if (pipe(fds) != 0) return "child failed: no pipe";
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return "child failed: no fork";
    }
    if (pid == 0) {
        close(fds[0]);
        if (getrlimit(RLIMIT_FSIZE, &gChildOldLimit) != 0) _exit(3);
        if (limit != kNoLimit) {
            struct rlimit small = gChildOldLimit;
            small.rlim_cur = limit;
            signal(SIGXFSZ, SIG_IGN);
            if (setrlimit(RLIMIT_FSIZE, &small) != 0) _exit(4);
        }
        const std::string out = body();
        setrlimit(RLIMIT_FSIZE, &gChildOldLimit);
        signal(SIGXFSZ, SIG_DFL);
        for (size_t done = 0; done < out.size();) {
            ssize_t n = write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) _exit(5);
            done += size_t(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child failed: status " + std::to_string(status);
    return out;
}

cQV_CfgFile Document(int params) {
    cQV_CfgFile doc;
    cQV_CfgRecord *s = doc.SetSect("main", false, "generated");
    for (int i = 0; i < params; ++i)
        doc.AddParam(s, ("p" + std::to_string(i)).c_str(), std::string(100, 'v').c_str(), nullptr);
    return doc;
}

// The text WriteFile gives for doc, from a save nothing hinders.
std::string TextOf(const cQV_CfgFile &doc) {
    TempDir scratch;
    const std::string path = scratch / "t.cfg";
    cQV_Error err;
    if (!doc.WriteFile(err, path.c_str())) return "";
    return ReadBytes(path);
}

} // namespace

// ---- Configuration save ----------------------------------------------------------------------

// A device is written in place: the text goes to the node itself, which refuses it. Small texts
// fail at the final write, large ones at one of the blocks before it; either way the save fails
// with its message, the node stays a device and the link a link, and nothing else appears.
TEST(FullDevice, ConfigurationSaveFailsAndLeavesTheNodeAsItWas) {
    TempDir dir;
    std::string why;
    const std::string node = FullDevice(dir, "full", why);
    if (node.empty()) GTEST_SKIP() << why;
    const std::string link = dir / "link.cfg";
    ASSERT_EQ(symlink("full", link.c_str()), 0);
    struct Case {
        const char *what;
        std::string path;
        int params;
    } cases[] = {
        {"node, one block", node, 3},
        {"node, several blocks", node, 2000},
        {"link to the node, one block", link, 3},
        {"link to the node, several blocks", link, 2000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        cQV_Error err;
        const bool ok = Document(c.params).WriteFile(err, c.path.c_str());
        EXPECT_EQ(Seen(ok, err),
                  Failure("oscfg", Format("Failed to write data into file [%s]", c.path)));
        EXPECT_TRUE(IsCharDevice(node)) << "the device node was replaced";
        struct stat st;
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
        EXPECT_EQ(Names(dir), "full link.cfg ");
    }
}

// The limit stops the temporary file the new text goes to, not the file it replaces: an existing
// file larger than the limit keeps every byte when the new text is over the limit, and is replaced
// when the new text fits. A file written in place (it has a second name) keeps what was written
// before the limit, as a save in place does.
TEST(SizeLimit, ConfigurationSaveFailsWithoutTouchingTheFile) {
    enum Target { kExisting, kMissing, kHardLinked };
    struct Case {
        const char *what;
        Target target;
        int params;
        long limitOverText; // the limit, as bytes more (or fewer) than the new text has
        bool ok;
    } cases[] = {
        {"new text one byte over the limit", kExisting, 50, -1, false},
        {"new text exactly at the limit", kExisting, 50, 0, true},
        {"new text of several blocks over the limit", kExisting, 2000, -150000, false},
        {"no file yet, new text over the limit", kMissing, 50, -1, false},
        {"a file with two names, new text over the limit", kHardLinked, 50, -1, false},
    };
    const std::string original = "[old]\n" + std::string(100000, '#') + "\nkey = kept\n";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir / "a.cfg";
        const cQV_CfgFile doc = Document(c.params);
        const std::string text = TextOf(doc);
        ASSERT_FALSE(text.empty());
        const rlim_t limit = rlim_t(long(text.size()) + c.limitOverText);
        ASSERT_LT(limit, original.size()) << "the file to keep must be larger than the limit";
        if (c.target != kMissing) WriteBytes(path, original);
        if (c.target == kHardLinked) {
            ASSERT_EQ(link(path.c_str(), (dir / "b.cfg").c_str()), 0);
        }
        const std::string seen = InChild(limit, [&] {
            cQV_Error err;
            const bool ok = doc.WriteFile(err, path.c_str());
            return Seen(ok, err);
        });
        EXPECT_EQ(seen,
                  c.ok ? "true"
                       : Failure("oscfg", Format("Failed to write data into file [%s]", path)));
        switch (c.target) {
        case kExisting:
            EXPECT_EQ(ReadBytes(path), c.ok ? text : original);
            EXPECT_EQ(Names(dir), "a.cfg ");
            break;
        case kMissing:
            EXPECT_EQ(Names(dir), "") << "a failed save of a new file leaves nothing";
            break;
        case kHardLinked:
            EXPECT_EQ(ReadBytes(path), text.substr(0, limit));
            EXPECT_EQ(ReadBytes(dir / "b.cfg"), text.substr(0, limit));
            EXPECT_EQ(Names(dir), "a.cfg b.cfg ");
            break;
        }
    }
}

// ---- File streams ----------------------------------------------------------------------------

namespace {

// One way of writing through a stream until the system refuses, with the message that failure
// must give. A small write stays in the stream's buffer and fails only when the buffer goes out:
// at a later write, at the flush or at the close.
struct StreamCase {
    const char *what;
    bool (*run)(cFileIO &io);
    const char *message; // with %s for the path
    bool fillsWithX;     // every byte it writes is 'x', so what part of it was stored is known
};

bool UntilRefused(const std::function<bool()> &write) {
    for (int i = 0; i < (1 << 20); ++i)
        if (!write()) return false;
    return true;
}

const std::string kBig(65536, 'x');

const StreamCase kStreamCases[] = {
    {"one write larger than the buffer",
     [](cFileIO &io) { return io.WriteBytes(unsigned(kBig.size()), U(kBig.c_str())); },
     "Failed to write [65536] bytes to file [%s]", true},
    {"single bytes until the buffer goes out",
     [](cFileIO &io) { return UntilRefused([&] { return io.WriteBytes(1, U("x")); }); },
     "Failed to write [1] bytes to file [%s]", true},
    {"unsigned numbers until the buffer goes out",
     [](cFileIO &io) { return UntilRefused([&] { return io.WriteUlong(4294967295u); }); },
     "Failed to write tUlong to file [%s]", false},
    {"signed numbers until the buffer goes out",
     [](cFileIO &io) { return UntilRefused([&] { return io.WriteLong(-2147483647 - 1); }); },
     "Failed to write int to file [%s]", false},
    {"a small write, then the flush",
     [](cFileIO &io) { return io.WriteBytes(10, U("0123456789")) && io.WriteFlush(); },
     "Failed to flush data into file [%s]", false},
    {"a small write, then the close",
     [](cFileIO &io) { return io.WriteBytes(10, U("0123456789")) && io.Close(); },
     "Files to close file [%s]", false},
};

// Runs one case on path (open with mode) and describes what followed: the failure, then whether
// anything after it still claimed success. After a failure every write and flush fails at once and
// the close leaves the first failure in the status.
std::string RunStreamCase(const StreamCase &c, const std::string &path, const char *mode) {
    cFileIO io;
    if (!io.Open(path.c_str(), mode)) return "open: " + Seen(false, io.GetStatus());
    const bool ok = c.run(io);
    std::string out = Seen(ok, io.GetStatus());
    const std::string first = std::string(io.GetStatus().text);
    if (io.WriteBytes(1, U("y"))) out += "; a write after it claimed success";
    if (io.WriteFlush()) out += "; a flush after it claimed success";
    io.Close();
    if (std::string(io.GetStatus().text) != first) out += "; the close replaced the status";
    return out;
}

} // namespace

TEST(FullDevice, FileStreamReportsEveryLostWrite) {
    TempDir dir;
    std::string why;
    const std::string node = FullDevice(dir, "full", why);
    if (node.empty()) GTEST_SKIP() << why;
    for (const StreamCase &c : kStreamCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RunStreamCase(c, node, "wb"), Failure("osstorage", Format(c.message, node)));
        EXPECT_TRUE(IsCharDevice(node));
    }
}

// A file already at the limit, opened for appending: nothing more may be stored, and nothing that
// was refused turns up in the file later. With room for 100 bytes, exactly those are stored.
TEST(SizeLimit, FileStreamReportsEveryLostWriteAndStoresOnlyWhatFits) {
    const rlim_t limit = 10000;
    for (size_t room : {size_t(0), size_t(100)}) {
        for (const StreamCase &c : kStreamCases) {
            if (room && !c.fillsWithX) continue;
            SCOPED_TRACE(std::string(c.what) + ", room " + std::to_string(room));
            TempDir dir;
            const std::string path = dir / "s.dat";
            const std::string original(limit - room, 'o');
            WriteBytes(path, original);
            const std::string seen = InChild(limit, [&] { return RunStreamCase(c, path, "ab"); });
            EXPECT_EQ(seen, Failure("osstorage", Format(c.message, path)));
            EXPECT_EQ(ReadBytes(path), original + std::string(room, 'x'));
        }
    }
}

// ---- Raw file calls --------------------------------------------------------------------------

namespace {

std::string RawWrite(void *h, unsigned count) {
    unsigned written = 12345;
    const bool ok = osFileWrite(h, U(kBig.c_str()), count, written);
    return std::string(ok ? "true" : "false") + ", written " + std::to_string(written);
}

} // namespace

// A raw write reports exactly the bytes the system took: none on the full device. The device
// cannot be flushed to storage either, which is reported too.
TEST(FullDevice, RawWriteCountsNoByteAsWritten) {
    TempDir dir;
    std::string why;
    const std::string node = FullDevice(dir, "full", why);
    if (node.empty()) GTEST_SKIP() << why;
    void *h = osFileOpen(node.c_str(), eFileOpenWrite, 0);
    ASSERT_NE(h, reinterpret_cast<void *>(-1));
    EXPECT_EQ(RawWrite(h, 100), "false, written 0");
    EXPECT_EQ(RawWrite(h, 1), "false, written 0");
    EXPECT_FALSE(osFlushFileBuffers(h));
    EXPECT_TRUE(osFileClose(h));
    EXPECT_TRUE(IsCharDevice(node));
}

// A write across the limit stores the bytes up to it and says so in `written`, but is no success;
// the next write stores nothing.
TEST(SizeLimit, RawWriteCountsOnlyTheBytesStored) {
    TempDir dir;
    const std::string path = dir / "r.dat";
    const std::string seen = InChild(1000, [&] {
        void *h = osFileOpen(path.c_str(), eFileOpenWrite | eFileOpenCreate, 0);
        if (h == reinterpret_cast<void *>(-1)) return std::string("no file");
        std::string out = RawWrite(h, 1500);
        out += "; " + RawWrite(h, 10);
        out += osFlushFileBuffers(h) ? "; flushed" : "; not flushed";
        osFileClose(h);
        return out;
    });
    EXPECT_EQ(seen, "false, written 1000; false, written 0; flushed");
    EXPECT_EQ(ReadBytes(path), kBig.substr(0, 1000));
}

// ---- Log files -------------------------------------------------------------------------------

namespace {

const char kNotice[] = "MSG:Maximum length [100] bytes of log file has been reached\n";

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

// A log reports no failure of its own, but what it cannot store is not taken for stored: a log on
// the full device (a file it opened, or a stream of the caller's) loses its records without
// turning to standard output, and the caller's stream shows the loss in its error indicator.
TEST(FullDevice, LogRecordsAreLostWithoutBeingDivertedOrHidden) {
    TempDir dir;
    std::string why;
    const std::string node = FullDevice(dir, "full", why);
    if (node.empty()) GTEST_SKIP() << why;
    const std::string out = dir / "stdout.txt";
    const std::string seen = InChild(kNoLimit, [&] {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || dup2(fd, 1) < 0) return std::string("no standard output");
        close(fd);
        std::string r;
        cQV_Log *owned = cQV_Log::Create(nullptr, node.c_str());
        if (!owned) return std::string("no log");
        owned->SetMaxSize(100);
        for (int i = 0; i < 3; ++i)
            cQV_Log::Log(owned, 1, "a.cpp", i, "record %d", i);
        delete owned;
        std::FILE *stream = std::fopen(node.c_str(), "w");
        if (!stream) return std::string("no stream");
        cQV_Log *supplied = cQV_Log::Create(nullptr, static_cast<void *>(stream));
        cQV_Log::Log(supplied, 1, "b.cpp", 1, "record");
        delete supplied;
        r += std::ferror(stream) ? "stream error set" : "stream error clear";
        std::fclose(stream);
        std::fflush(stdout);
        return r;
    });
    EXPECT_EQ(seen, "stream error set");
    EXPECT_EQ(ReadBytes(out), "") << "the log wrote to standard output";
    EXPECT_TRUE(IsCharDevice(node));
}

// The notice that the log reached its maximum size is written once. A notice the system refused
// was not written: once the file can grow again, the next record brings it, and only once.
TEST(SizeLimit, LogNoticeThatCouldNotBeStoredIsWrittenLater) {
    TempDir dir;
    const std::string path = dir / "a.log";
    const std::string original(2000, 'o');
    WriteBytes(path, original);
    const std::string seen = InChild(original.size(), [&] {
        cQV_Log *log = cQV_Log::Create(nullptr, path.c_str());
        if (!log) return std::string("no log");
        log->SetMaxSize(100);
        cQV_Log::Log(log, 1, "a.cpp", 1, "refused");
        std::string r = "size " + std::to_string(SizeOf(path));
        LiftSizeLimit();
        cQV_Log::Log(log, 1, "a.cpp", 2, "dropped");
        cQV_Log::Log(log, 1, "a.cpp", 3, "dropped");
        delete log;
        return r;
    });
    EXPECT_EQ(seen, "size 2000");
    const std::string text = ReadBytes(path);
    ASSERT_EQ(text.substr(0, original.size()), original);
    const std::string added = text.substr(original.size());
    EXPECT_EQ(Count(added, kNotice), 1u) << added;
    EXPECT_EQ(Count(added, "FILE:a.cpp[2]"), 1u) << "the notice belongs to the record after it\n"
                                                 << added;
    EXPECT_EQ(Count(added, "dropped"), 0u) << added;
}

#endif // !_WIN32
