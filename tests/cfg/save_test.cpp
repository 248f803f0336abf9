// Saving replaces the file in one step, so a failed save never leaves a damaged file behind.
#include "cfg_test_util.h"

#include <cstdio>
#include <string>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Quorvel;
using namespace cfgtest;

namespace {

// The names in `dir` other than `keep`: a save must leave no temporary file behind.
std::string Leftovers(const TempDir &dir, const std::string &keep) {
    std::string out;
    for (const auto &e : fs::directory_iterator(dir.path()))
        if (e.path().filename().string() != keep) out += e.path().filename().string() + " ";
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
#endif

} // namespace
