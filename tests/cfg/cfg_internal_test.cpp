// Failing writes injected through the writer's seam, on every platform.
#include "cfg_test_util.h"

#include "cfg/cfg_seam.h"

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

} // namespace
