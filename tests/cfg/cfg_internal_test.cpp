// Failing writes injected through the writer's seam, on every platform.
#include "cfg_test_util.h"

#include "cfg/cfg_seam.h"
#include "io/io_save.h"

#include <set>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace Quorvel;
using namespace cfgtest;

namespace {

struct HookGuard {
    explicit HookGuard(bool (*hook)(const char *, size_t)) { detail::cfgWriteHook = hook; }
    ~HookGuard() { detail::cfgWriteHook = nullptr; }
};

int gBlocks = 0;

// Lets the first block through and fails the second, so the temporary file is half written.
bool FailSecondBlock(const char *, size_t) {
    return ++gBlocks < 2;
}

TEST(SaveSeam, FailedWriteLeavesOriginalUntouched) {
    TempDir dir;
    std::string path = dir / "a.cfg";
    const std::string original = "[keep]\r\nvalue = precious\n";
    WriteBytes(path, original);
    cQV_CfgFile doc;
    cQV_CfgRecord *s = doc.SetSect("big", false, nullptr);
    for (int i = 0; i < 3000; ++i)
        doc.AddParam(s, ("k" + std::to_string(i)).c_str(), std::string(80, 'v').c_str(), nullptr);

    gBlocks = 0;
    cQV_Error err;
    bool ok;
    {
        HookGuard guard(FailSecondBlock);
        ok = doc.WriteFile(err, path.c_str());
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(gBlocks, 2);
    EXPECT_EQ(err.code, 3);
    EXPECT_EQ(std::string(err.text), "Failed to write data into file [" + path + "]");
    EXPECT_EQ(ReadBytes(path), original);
    int entries = 0;
    for (const auto &e : fs::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1) << "the temporary file was left behind";

    // With the seam released the same document saves.
    ASSERT_TRUE(doc.WriteFile(err, path.c_str())) << err.text;
    cQV_CfgFile back;
    ASSERT_TRUE(back.ReadFile(err, path.c_str()));
    EXPECT_EQ(Dump(back), Dump(doc));
}

#ifndef _WIN32
std::string gDir;
std::string gModes;

// Looks at every file of the folder while the writer is in the middle of a save.
bool RecordModes(const char *, size_t) {
    std::set<std::string> seen;
    for (const auto &e : fs::directory_iterator(gDir)) {
        struct stat st;
        if (stat(e.path().c_str(), &st) != 0) continue;
        char buf[64];
        bool target = e.path().filename().string() == "a.cfg";
        snprintf(buf, sizeof buf, "%s:%03o ", target ? "target" : "temp",
                 unsigned(st.st_mode & 0777));
        seen.insert(buf);
    }
    for (const std::string &m : seen)
        gModes += m;
    return true;
}

// While the new text is in the temporary file, nobody but its owner can open it; afterwards
// the file has its own permissions again.
TEST(SaveSeam, TemporaryFileIsPrivateUntilItTakesTheFilesMode) {
    TempDir dir;
    gDir = dir.path().string();
    std::string path = dir / "a.cfg";
    WriteBytes(path, "[old]\n");
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    cQV_CfgFile doc;
    doc.SetParam(doc.SetSect("secret", false, nullptr), "password", "hunter2", nullptr);
    gModes.clear();
    cQV_Error err;
    {
        HookGuard guard(RecordModes);
        ASSERT_TRUE(doc.WriteFile(err, path.c_str())) << err.text;
    }
    EXPECT_EQ(gModes, "target:644 temp:600 ") << "the modes seen during the save";
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}
#endif

// Which targets are replaced, which are written in place and which are refused.
TEST(SaveMethod, ChosenFromWhatThePathNames) {
    using detail::IoSaveKind;
    using detail::IoSaveMethod;
    struct Case {
        IoSaveKind kind;
        unsigned long links;
        bool mayWrite, ownerKept;
        IoSaveMethod method;
    };
    const Case cases[] = {
        {IoSaveKind::Missing, 1, true, true, IoSaveMethod::Replace},
        {IoSaveKind::Regular, 1, true, true, IoSaveMethod::Replace},
        {IoSaveKind::Regular, 2, true, true, IoSaveMethod::InPlace},
        {IoSaveKind::Regular, 1, true, false, IoSaveMethod::InPlace},
        {IoSaveKind::Regular, 1, false, true, IoSaveMethod::Refuse},
        {IoSaveKind::Special, 1, true, true, IoSaveMethod::InPlace},
        {IoSaveKind::Special, 1, false, true, IoSaveMethod::Refuse},
        {IoSaveKind::Directory, 1, true, true, IoSaveMethod::Refuse},
    };
    for (const Case &c : cases) {
        detail::tIoSaveTarget t;
        t.kind = c.kind;
        t.links = c.links;
        t.mayWrite = c.mayWrite;
        t.ownerKept = c.ownerKept;
        EXPECT_EQ(int(detail::ChooseSaveMethod(t)), int(c.method))
            << int(c.kind) << " links " << c.links << " write " << c.mayWrite << " owner "
            << c.ownerKept;
    }
}

// The temporary name lies in the target's folder, starts with '.', and is as long as the
// target's name (6 to 16 bytes); different seeds give different names.
TEST(SaveMethod, TemporaryNameFitsWhereTheTargetFits) {
    struct Case {
        std::string target;
        size_t folder, leaf;
    };
    const Case cases[] = {
        {"a", 0, 6},
        {"dir/abcdefg.cfg", 4, 11},
        {"d\\x\\" + std::string(254, 'n'), 4, 16},
        {"/abc", 1, 6},
    };
    for (const Case &c : cases) {
        std::set<std::string> seen;
        for (unsigned long long seed = 0; seed < 50; ++seed) {
            std::string t(detail::SaveTempPath(c.target.c_str(), seed * 7919));
            ASSERT_EQ(t.size(), c.folder + c.leaf) << c.target;
            EXPECT_EQ(t.substr(0, c.folder), c.target.substr(0, c.folder));
            EXPECT_EQ(t[c.folder], '.');
            EXPECT_EQ(t.find_first_of("/\\", c.folder), std::string::npos) << t;
            seen.insert(t);
        }
        EXPECT_EQ(seen.size(), 50u) << c.target;
    }
}

// A busy target is tried again for about a second in all, then given up.
TEST(SaveMethod, BusyRetriesAreBounded) {
    int total = 0, attempt = 1;
    for (int d; (d = detail::SaveRetryDelay(attempt)) >= 0; ++attempt) {
        EXPECT_GT(d, 0);
        total += d;
    }
    EXPECT_GT(attempt, 3);
    EXPECT_GE(total, 500);
    EXPECT_LE(total, 2000);
    EXPECT_EQ(detail::SaveRetryDelay(0), -1);
}

// The reader stops at the platform's text-mode end-of-file byte, here driven on every system.
TEST(ReadSeam, StopsAtTheTextEndByte) {
    TempDir dir;
    const std::string text = "[A]\nx = 1\n\x1Ay = 2\n";
    const int saved = detail::cfgTextEnd;
    for (int end : {-1, 0x1A}) {
        detail::cfgTextEnd = end;
        cQV_CfgFile doc;
        EXPECT_TRUE(ReadText(doc, dir, text));
        EXPECT_EQ(Dump(doc), end < 0 ? "S A\nP x = 1\nC # \x1Ay = 2\n" : "S A\nP x = 1\n");
    }
    detail::cfgTextEnd = saved;
}

} // namespace
