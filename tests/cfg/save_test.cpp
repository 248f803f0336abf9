// Saving replaces the file in one step, so a failed save never leaves a damaged file behind.
#include "cfg_test_util.h"

#include <cstdio>
#include <set>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace Quorvel;
using namespace cfgtest;

namespace {

// The names in `dir` other than `keep`, sorted: a save must leave no temporary file behind.
std::string Leftovers(const TempDir &dir, const std::string &keep) {
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(dir.path()))
        if (e.path().filename().string() != keep) names.insert(e.path().filename().string());
    std::string out;
    for (const std::string &n : names)
        out += n + " ";
    return out;
}

std::string Message(const char *fmt, const std::string &path) {
    char buf[1024];
    snprintf(buf, sizeof buf, fmt, path.c_str());
    return buf;
}

TEST(Save, ReplacesContentAndLeavesNoTemporaryFile) {
    TempDir dir;
    std::string path = dir / "a.cfg";
    WriteBytes(path, "[old]\nk = 1\nlonger = text than the new one\n");
    cQV_CfgFile doc;
    doc.SetSect("new", false, nullptr);
    cQV_Error err;
    ASSERT_TRUE(doc.WriteFile(err, path.c_str())) << err.text;
    EXPECT_EQ(ReadBytes(path), Native("[new]\n"));
    EXPECT_EQ(Leftovers(dir, "a.cfg"), "");
    // A new file is created as well.
    std::string fresh = dir / "fresh.cfg";
    ASSERT_TRUE(doc.WriteFile(err, fresh.c_str())) << err.text;
    EXPECT_EQ(ReadBytes(fresh), Native("[new]\n"));
}

TEST(Save, OpenFailures) {
    TempDir dir;
    cQV_CfgFile doc;
    doc.SetSect("s", false, nullptr);
    const std::string paths[] = {dir / "no/such/folder/a.cfg", dir.path().string()};
    for (const std::string &p : paths) {
        cQV_Error err;
        EXPECT_FALSE(doc.WriteFile(err, p.c_str())) << p;
        EXPECT_EQ(err.code, 3);
        EXPECT_STREQ(err.file, "oscfg");
        EXPECT_EQ(std::string(err.text), Message("Failed to open file [%s] for write", p));
    }
    EXPECT_EQ(Leftovers(dir, ""), "");
}

#ifndef _WIN32
cQV_CfgFile BigDocument(int params) {
    cQV_CfgFile doc;
    cQV_CfgRecord *s = doc.SetSect("big", false, "generated");
    for (int i = 0; i < params; ++i) {
        std::string name = "p" + std::string(1, char('a' + i % 26)) + std::to_string(i);
        doc.AddParam(s, name.c_str(), std::string(100, 'x').c_str(), nullptr);
    }
    return doc;
}

TEST(Save, KeepsModeAndSymbolicLinks) {
    TempDir dir;
    std::string real = dir / "real.cfg";
    std::string link = dir / "link.cfg";
    WriteBytes(real, "[old]\n");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(symlink("real.cfg", link.c_str()), 0);
    cQV_CfgFile doc;
    doc.SetSect("new", false, nullptr);
    cQV_Error err;
    ASSERT_TRUE(doc.WriteFile(err, link.c_str())) << err.text;
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
    EXPECT_EQ(ReadBytes(real), "[new]\n");
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Leftovers(dir, "real.cfg"), "link.cfg ");
}

// A file its owner made read-only is not replaced, although its folder would allow the rename.
TEST(Save, RefusesAReadOnlyFile) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    TempDir dir;
    std::string path = dir / "ro.cfg";
    WriteBytes(path, "[keep]\n");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    cQV_CfgFile doc;
    doc.SetSect("new", false, nullptr);
    cQV_Error err;
    EXPECT_FALSE(doc.WriteFile(err, path.c_str()));
    EXPECT_EQ(std::string(err.text), Message("Failed to open file [%s] for write", path));
    EXPECT_EQ(ReadBytes(path), "[keep]\n");
    EXPECT_EQ(Leftovers(dir, "ro.cfg"), "");
}

// A write that really fails: the file-size limit makes write() fail with EFBIG part way, as a
// full disk would. The original must survive byte for byte.
TEST(Save, FailedWriteLeavesOriginalUntouched) {
    TempDir dir;
    std::string path = dir / "a.cfg";
    const std::string original = "[keep]\nvalue = precious\n";
    WriteBytes(path, original);
    cQV_CfgFile doc = BigDocument(2000); // about 220 kB of text

    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    cQV_Error err;
    bool ok = doc.WriteFile(err, path.c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    EXPECT_EQ(err.code, 3);
    EXPECT_STREQ(err.file, "oscfg");
    EXPECT_EQ(std::string(err.text), Message("Failed to write data into file [%s]", path));
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(Leftovers(dir, "a.cfg"), "");
}

cQV_CfgFile SmallDocument() {
    cQV_CfgFile doc;
    doc.SetParam(doc.SetSect("new", false, nullptr), "k", "v", nullptr);
    return doc;
}

// Runs `save` with the file-size limit at `limit` bytes (writes beyond it fail with EFBIG).
template <class F> bool WithSizeLimit(rlim_t limit, F save) {
    struct rlimit old;
    if (getrlimit(RLIMIT_FSIZE, &old) != 0) return false;
    struct rlimit small = old;
    small.rlim_cur = limit;
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    bool ok = setrlimit(RLIMIT_FSIZE, &small) == 0 && save();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    return ok;
}

// Device nodes made in the test's own folder: the null device takes the text, the full device
// refuses it. Either way the node stays a device, reached directly or through a link.
TEST(Save, DevicesAreWrittenInPlace) {
    TempDir dir;
    struct Case {
        const char *name;
        unsigned minor;
        bool viaLink;
        bool ok;
    };
    const Case cases[] = {
        {"null", 3, false, true},
        {"null", 3, true, true},
        {"full", 7, false, false},
        {"full", 7, true, false},
    };
    for (const Case &c : cases) {
        std::string node = dir / (std::string(c.name) + (c.viaLink ? "_l" : "_d"));
        if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, c.minor)) != 0)
            GTEST_SKIP() << "cannot make a device node here";
        std::string path = node;
        if (c.viaLink) {
            path = node + ".cfg";
            ASSERT_EQ(symlink(node.c_str(), path.c_str()), 0);
        }
        cQV_CfgFile doc = SmallDocument();
        cQV_Error err;
        EXPECT_EQ(doc.WriteFile(err, path.c_str()), c.ok) << path;
        if (!c.ok) {
            EXPECT_EQ(err.code, 3);
            EXPECT_EQ(std::string(err.text), Message("Failed to write data into file [%s]", path));
        }
        struct stat st;
        ASSERT_EQ(lstat(node.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << path << ": the device node was replaced";
        if (c.viaLink) {
            ASSERT_EQ(lstat(path.c_str(), &st), 0);
            EXPECT_TRUE(S_ISLNK(st.st_mode)) << path;
        }
    }
    EXPECT_EQ(Leftovers(dir, ""), "full_d full_l full_l.cfg null_d null_l null_l.cfg ")
        << "a temporary file was left behind";
}

// A pipe gets the text written into it, and a socket node (which cannot be opened) is refused;
// neither is replaced.
TEST(Save, PipesAndSocketsStayWhatTheyAre) {
    TempDir dir;
    std::string fifo = dir / "pipe.cfg";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Held open for reading and writing, the pipe never blocks the save, and the text waits in
    // its buffer; had the node been replaced, nothing would reach it.
    int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    cQV_CfgFile doc = SmallDocument();
    cQV_Error err;
    EXPECT_TRUE(doc.WriteFile(err, fifo.c_str())) << err.text;
    char buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    EXPECT_EQ(std::string(buf, n > 0 ? size_t(n) : 0), "[new]\nk = v\n");
    struct stat st;
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe was replaced";

    std::string sock = dir / "s.cfg";
    int sfd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sfd, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    memcpy(addr.sun_path, sock.c_str(), sock.size() + 1);
    ASSERT_EQ(bind(sfd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    EXPECT_FALSE(doc.WriteFile(err, sock.c_str()));
    EXPECT_EQ(std::string(err.text), Message("Failed to open file [%s] for write", sock));
    ASSERT_EQ(lstat(sock.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode)) << "the socket node was replaced";
    close(sfd);
    EXPECT_EQ(Leftovers(dir, ""), "pipe.cfg s.cfg ");
}

// A file with two names is written in place, so both names keep naming one file with the new
// text. In place means a failure part way leaves what was written.
TEST(Save, HardLinkedFilesKeepTheirLinks) {
    TempDir dir;
    std::string a = dir / "a.cfg", b = dir / "b.cfg";
    WriteBytes(a, "[old]\n");
    ASSERT_EQ(link(a.c_str(), b.c_str()), 0);
    struct stat before, after;
    ASSERT_EQ(stat(a.c_str(), &before), 0);
    cQV_CfgFile doc = SmallDocument();
    cQV_Error err;
    ASSERT_TRUE(doc.WriteFile(err, a.c_str())) << err.text;
    ASSERT_EQ(stat(b.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(ReadBytes(b), "[new]\nk = v\n");
    EXPECT_EQ(Leftovers(dir, "a.cfg"), "b.cfg ");

    cQV_CfgFile big = BigDocument(2000);
    bool ok = true;
    ASSERT_TRUE(WithSizeLimit(64 * 1024, [&] {
        ok = big.WriteFile(err, b.c_str());
        return true;
    }));
    EXPECT_FALSE(ok);
    EXPECT_EQ(std::string(err.text), Message("Failed to write data into file [%s]", b));
    EXPECT_EQ(fs::file_size(a), 64u * 1024u)
        << "in place, the text written before the failure stays";
}

// A user who may write another user's file, but could not give a new file that owner, writes
// it in place: the file keeps its owner and stays the same file.
TEST(Save, ForeignOwnedFileIsWrittenInPlace) {
    if (geteuid() != 0) GTEST_SKIP() << "needs a second user to write the file";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    std::string path = dir / "shared.cfg";
    WriteBytes(path, "[old]\n");
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    struct stat before, after;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(20); // the child never outlives a hung save
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        cQV_CfgFile doc = SmallDocument();
        cQV_Error err;
        _exit(doc.WriteFile(err, path.c_str()) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot become another user here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, before.st_uid) << "the file changed its owner";
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0666u);
    EXPECT_EQ(ReadBytes(path), "[new]\nk = v\n");
    EXPECT_EQ(Leftovers(dir, "shared.cfg"), "");
}

TEST(Save, LinkLoopFailsAndLinksStay) {
    TempDir dir;
    std::string a = dir / "a.cfg", b = dir / "b.cfg";
    ASSERT_EQ(symlink("b.cfg", a.c_str()), 0);
    ASSERT_EQ(symlink("a.cfg", b.c_str()), 0);
    cQV_CfgFile doc = SmallDocument();
    cQV_Error err;
    EXPECT_FALSE(doc.WriteFile(err, a.c_str()));
    EXPECT_EQ(std::string(err.text), Message("Failed to open file [%s] for write", a));
    struct stat st;
    ASSERT_EQ(lstat(a.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(lstat(b.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Leftovers(dir, ""), "a.cfg b.cfg ");
}

// A dangling link gets its target created; the link stays.
TEST(Save, DanglingLinkCreatesItsTarget) {
    TempDir dir;
    std::string link = dir / "l.cfg";
    ASSERT_EQ(symlink("t.cfg", link.c_str()), 0);
    cQV_CfgFile doc = SmallDocument();
    cQV_Error err;
    ASSERT_TRUE(doc.WriteFile(err, link.c_str())) << err.text;
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadBytes(dir / "t.cfg"), "[new]\nk = v\n");
    // The new file has the permissions any new file gets: 0666 less the umask.
    mode_t mask = umask(022);
    umask(mask);
    ASSERT_EQ(stat(link.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

// A name of 254 bytes, close to the limit of one name, saves: the temporary name is no longer.
TEST(Save, NamesNearTheLimitSave) {
    TempDir dir;
    std::string leaf = std::string(250, 'n') + ".cfg";
    std::string path = dir / leaf;
    WriteBytes(path, "[old]\n");
    cQV_CfgFile doc = SmallDocument();
    cQV_Error err;
    ASSERT_TRUE(doc.WriteFile(err, path.c_str())) << err.text;
    EXPECT_EQ(ReadBytes(path), "[new]\nk = v\n");
    EXPECT_EQ(Leftovers(dir, leaf), "");
}
#endif

#ifdef _WIN32
// The replace keeps the file's attributes (hidden here) and leaves nothing behind.
TEST(SaveWindows, KeepsAttributes) {
    TempDir dir;
    std::string path = dir / "h.cfg";
    WriteBytes(path, "[old]\r\n");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    cQV_CfgFile doc;
    doc.SetSect("new", false, nullptr);
    cQV_Error err;
    ASSERT_TRUE(doc.WriteFile(err, path.c_str())) << err.text;
    EXPECT_EQ(ReadBytes(path), "[new]\r\n");
    EXPECT_EQ(GetFileAttributesA(path.c_str()),
              DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(Leftovers(dir, "h.cfg"), "");
}

// A reader that holds the file open without delete sharing (as a plain fopen does) keeps the
// file from being replaced: after a bounded wait the text is written in place.
TEST(SaveWindows, BusyFileIsWrittenInPlace) {
    TempDir dir;
    std::string path = dir / "busy.cfg";
    WriteBytes(path, "[old]\r\nlonger = than the new text\r\n");
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    cQV_CfgFile doc;
    doc.SetSect("new", false, nullptr);
    cQV_Error err;
    bool ok = doc.WriteFile(err, path.c_str());
    CloseHandle(reader);
    EXPECT_TRUE(ok) << err.text;
    EXPECT_EQ(ReadBytes(path), "[new]\r\n");
    EXPECT_EQ(Leftovers(dir, "busy.cfg"), "");
}

// The null device takes the text and stays a device.
TEST(SaveWindows, NullDeviceIsWrittenInPlace) {
    cQV_CfgFile doc;
    doc.SetSect("new", false, nullptr);
    cQV_Error err;
    EXPECT_TRUE(doc.WriteFile(err, "NUL")) << err.text;
}

// A path of 259 bytes, the most the system's plain calls take, saves: the temporary name is no
// longer than the file's own.
TEST(SaveWindows, LongPathSaves) {
    TempDir dir;
    std::string base = dir / "";
    if (base.size() > 200) GTEST_SKIP() << "temporary folder too deep";
    std::string leaf = std::string(259 - base.size() - 4, 'n') + ".cfg";
    std::string path = base + leaf;
    ASSERT_EQ(path.size(), 259u);
    WriteBytes(path, "[old]\r\n");
    cQV_CfgFile doc;
    doc.SetSect("new", false, nullptr);
    cQV_Error err;
    ASSERT_TRUE(doc.WriteFile(err, path.c_str())) << err.text;
    EXPECT_EQ(ReadBytes(path), "[new]\r\n");
    EXPECT_EQ(Leftovers(dir, leaf), "");
}

// A dangling symbolic link gets its target created, as on POSIX, and stays a link.
TEST(SaveWindows, DanglingLinkCreatesItsTarget) {
    TempDir dir;
    std::string link = dir / "l.cfg";
    // Some systems report success and make no link.
    if (!CreateSymbolicLinkA(link.c_str(), "t.cfg", 0) ||
        GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "symbolic links cannot be made here";
    cQV_CfgFile doc;
    doc.SetSect("new", false, nullptr);
    cQV_Error err;
    ASSERT_TRUE(doc.WriteFile(err, link.c_str())) << err.text;
    EXPECT_EQ(ReadBytes(dir / "t.cfg"), "[new]\r\n");
    DWORD a = GetFileAttributesA(link.c_str());
    EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT))
        << "the link was replaced by a file";
}
#endif

} // namespace
