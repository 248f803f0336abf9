// The qvos cfg command, run as a real child process on a real file.
#include "cfg_test_util.h"
#include "support/qvtest.h"

#include <cstdlib>
#include <string>
#include <vector>

using namespace cfgtest;

namespace {

std::string QvosPath() {
    return qvtest::ProgramPath("qvos");
}

qvtest::RunResult Qvos(const TempDir &dir, const std::vector<std::string> &args) {
    return qvtest::RunProgram(QvosPath(), args, dir.path());
}

class QvosCfg : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(QvosPath())) GTEST_SKIP() << "qvos is not built";
        file_ = dir_ / "a.cfg";
        WriteBytes(file_, "# top\n[Main] # main\nname = x # who\n\n; old\n[Other]\nk=1\n");
    }
    TempDir dir_;
    std::string file_;
};

TEST_F(QvosCfg, Queries) {
    struct Case {
        std::vector<std::string> args;
        int code;
        const char *out;
    };
    const Case cases[] = {
        {{"get", file_, "main", "NAME"}, 0, "x\n"},
        {{"get", file_, "main", "k"}, 1, ""},
        {{"get", file_, "nope", "k"}, 1, ""},
        {{"sections", file_}, 0, "Main\nOther\n"},
        {{"list", file_}, 0, "[Main]\nname = x\n[Other]\nk = 1\n"},
        {{"list", file_, "other"}, 0, "k = 1\n"},
        {{"list", file_, "nope"}, 1, ""},
        {{"get", dir_ / "missing.cfg", "a", "b"}, 3, ""},
        {{"get", file_, "main"}, 2, ""},
        {{"frobnicate", file_}, 2, ""},
        {{}, 2, ""},
    };
    const std::string before = ReadBytes(file_);
    for (const Case &c : cases) {
        std::vector<std::string> args{"cfg"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        qvtest::RunResult r = Qvos(dir_, args);
        std::string what = args.size() > 1 ? args[1] : "";
        EXPECT_EQ(r.code, c.code) << what << " " << r.err;
        EXPECT_EQ(r.out, c.out) << what;
        if (c.code != 0) {
            EXPECT_FALSE(r.err.empty()) << what << ": a failure says why on stderr";
        }
    }
    EXPECT_EQ(ReadBytes(file_), before); // queries never write
    EXPECT_NE(Qvos(dir_, {"cfg", "get", dir_ / "missing.cfg", "a", "b"}).err.find("Files to open"),
              std::string::npos);
}

TEST_F(QvosCfg, EditsKeepCommentsAndOrder) {
    ASSERT_EQ(Qvos(dir_, {"cfg", "set", file_, "main", "name", "y"}).code, 0);
    ASSERT_EQ(Qvos(dir_, {"cfg", "set", file_, "Main", "added", "v 2", "--comment", "new"}).code,
              0);
    ASSERT_EQ(Qvos(dir_, {"cfg", "set", file_, "Third", "t", "3"}).code, 0);
    EXPECT_EQ(ReadBytes(file_), Native("# top\n[Main] # main\nname = y # who\nadded = v 2 # new\n"
                                       "\n# ; old\n[Other]\nk = 1\n\n[Third]\nt = 3\n"));
    EXPECT_EQ(Qvos(dir_, {"cfg", "del", file_, "other", "nope"}).code, 1);
    EXPECT_EQ(Qvos(dir_, {"cfg", "del", file_, "nope"}).code, 1);
    ASSERT_EQ(Qvos(dir_, {"cfg", "del", file_, "main", "added"}).code, 0);
    ASSERT_EQ(Qvos(dir_, {"cfg", "del", file_, "Other"}).code, 0);
    EXPECT_EQ(ReadBytes(file_), Native("# top\n[Main] # main\nname = y # who\n\n# ; old\n"
                                       "[Third]\nt = 3\n"));
    // A file that does not exist yet is created by set.
    std::string fresh = dir_ / "fresh.cfg";
    ASSERT_EQ(Qvos(dir_, {"cfg", "set", fresh, "S", "k", "v"}).code, 0);
    EXPECT_EQ(ReadBytes(fresh), Native("[S]\nk = v\n"));
}

TEST_F(QvosCfg, FmtRewritesInTheLibraryLayout) {
    WriteBytes(file_, "[A]\r\nx=1#c\r\n[B]\r\n");
    ASSERT_EQ(Qvos(dir_, {"cfg", "fmt", file_}).code, 0);
    EXPECT_EQ(ReadBytes(file_), Native("[A]\nx = 1 # c\n\n[B]\n"));
}

// Text the file could not give back is refused, and so is an edit of a file that the reader
// cannot read to its end: writing it would drop the rest of the file.
TEST_F(QvosCfg, RefusesEditsThatWouldLoseData) {
    const std::string before = ReadBytes(file_);
    const std::vector<std::string> refused[] = {
        {"set", file_, "Main", "9key", "v"},  {"set", file_, "Main", "", "v"},
        {"set", file_, "a b", "k", "v"},      {"set", file_, "Main", "k", "a#b"},
        {"set", file_, "Main", "k", " lead"}, {"set", file_, "Main", "k", "v", "--comment", "x\ny"},
    };
    for (const auto &args : refused) {
        std::vector<std::string> full{"cfg"};
        full.insert(full.end(), args.begin(), args.end());
        EXPECT_EQ(Qvos(dir_, full).code, 2) << args[3] << "/" << args[4];
    }
    EXPECT_EQ(ReadBytes(file_), before);

    const std::string bad = "[A]\nx=1\n9bad=2\ny=3\n";
    WriteBytes(file_, bad);
    qvtest::RunResult r = Qvos(dir_, {"cfg", "set", file_, "A", "z", "1"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("line 3"), std::string::npos) << r.err;
    EXPECT_EQ(Qvos(dir_, {"cfg", "fmt", file_}).code, 3);
    EXPECT_EQ(ReadBytes(file_), bad);
    // Reading still works, with a warning.
    r = Qvos(dir_, {"cfg", "get", file_, "A", "x"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "1\n");
    EXPECT_NE(r.err.find("line 3"), std::string::npos);
}

} // namespace
