// The qvos cfg command, run as a real child process on a real file.
#include "cfg_test_util.h"
#include "support/qvtest.h"

#include <cstdlib>
#include <memory>
#include <thread>
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
        {"set", file_, "Main", "9key", "v"},
        {"set", file_, "Main", "", "v"},
        {"set", file_, "", "k", "v"},
        {"get", file_, "", "k"},
        {"del", file_, ""},
        {"list", file_, ""},
        {"set", file_, "a b", "k", "v"},
        {"set", file_, "Main", "k", "trail "},
        {"set", file_, "Main", "k", "line\nbreak"},
#ifndef _WIN32 // the Windows command line holds at most 8191 bytes, and no bare quote
        {"set", file_, "Main", "k", "end\""},
        {"set", file_, "Main", "k", std::string(40000, 'v')},
#endif
        {"set", file_, "Main", "k", "v", "--comment", "x\ny"},
        {"set", file_, "Main", "k", "v", "--comment", " lead"},
    };
    for (const auto &args : refused) {
        std::vector<std::string> full{"cfg"};
        full.insert(full.end(), args.begin(), args.end());
        qvtest::RunResult r = Qvos(dir_, full);
        EXPECT_EQ(r.code, 2) << args[0] << " [" << args[2] << "] ["
                             << (args.size() > 3 ? args[3].substr(0, 20) : "") << "] "
                             << (args.size() > 4 ? args[4].substr(0, 20) : "");
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(ReadBytes(file_), before);

    // Values that need quotes to survive are written so, and read back as set.
    const std::string kept[] = {"a#b", " lead", "http://x/#frag", std::string(4000, 'v')};
    for (const std::string &v : kept) {
        ASSERT_EQ(Qvos(dir_, {"cfg", "set", file_, "Main", "k", v}).code, 0) << v.substr(0, 20);
        qvtest::RunResult r = Qvos(dir_, {"cfg", "get", file_, "Main", "k"});
        EXPECT_EQ(r.out, v + "\n");
    }

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

// Lines the reader would take apart or join are refused for an edit, naming the line, and a
// record that the writer cannot give back is refused naming the record.
TEST_F(QvosCfg, RefusesEditsThatWouldChangeAnotherRecord) {
    struct Case {
        std::string text;
        const char *message;
    };
    const Case cases[] = {
        {"[A]\rx = 1\r", "line 1"},
        {"[A]\nx = " + std::string(40000, 'v') + "\ny = 2\n", "line 2"},
        {"[A]\nk = a\"b \" # c\n", "key [k] in section [A]"},
    };
    for (const Case &c : cases) {
        WriteBytes(file_, c.text);
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"cfg", "set", file_, "A", "z", "1"},
              std::vector<std::string>{"cfg", "fmt", file_}}) {
            qvtest::RunResult r = Qvos(dir_, args);
            EXPECT_EQ(r.code, 3) << c.message << " " << args[1];
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
        EXPECT_EQ(ReadBytes(file_), c.text);
    }
}

// `--help` after any subcommand prints its usage and the exit codes on standard output.
TEST_F(QvosCfg, HelpAfterAnySubcommand) {
    const std::vector<std::string> calls[] = {
        {"cfg", "--help"},
        {"cfg", "get", "--help"},
        {"cfg", "set", file_, "--help"},
        {"cfg", "del", "--help"},
        {"cfg", "sections", "--help"},
        {"cfg", "list", file_, "S", "--help"},
        {"cfg", "fmt", "--help"},
    };
    for (const auto &args : calls) {
        qvtest::RunResult r = Qvos(dir_, args);
        EXPECT_EQ(r.code, 0) << args[1];
        if (args[1] != "--help") {
            EXPECT_NE(r.out.find("usage: qvos cfg " + args[1]), std::string::npos) << r.out;
        }
        EXPECT_NE(r.out.find("exit codes: 0 "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("3 "), std::string::npos) << r.out;
    }
}

// Edits from several processes at once take turns: none is lost and none fails.
TEST_F(QvosCfg, ConcurrentEditsKeepEveryKey) {
    const int kWriters = 4, kEach = 6;
    std::vector<std::thread> writers;
    std::vector<int> failures(kWriters, 0);
    std::vector<std::unique_ptr<TempDir>> scratch;
    for (int w = 0; w < kWriters; ++w)
        scratch.push_back(std::make_unique<TempDir>());
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kEach; ++i) {
                std::string key = "w" + std::to_string(w) + "_" + std::to_string(i);
                qvtest::RunResult r =
                    qvtest::RunProgram(QvosPath(), {"cfg", "set", file_, "Main", key, "v"},
                                       scratch[size_t(w)]->path());
                if (r.code != 0) ++failures[size_t(w)];
            }
        });
    }
    for (std::thread &t : writers)
        t.join();
    for (int w = 0; w < kWriters; ++w)
        EXPECT_EQ(failures[size_t(w)], 0) << "writer " << w;
    Quorvel::cQV_CfgFile doc;
    Quorvel::cQV_Error err;
    ASSERT_TRUE(doc.ReadFile(err, file_.c_str()));
    Quorvel::cQV_CfgRecord *s = doc.FindSection("Main");
    ASSERT_NE(s, nullptr);
    int lost = 0;
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kEach; ++i)
            if (!doc.FindParam(s, ("w" + std::to_string(w) + "_" + std::to_string(i)).c_str()))
                ++lost;
    EXPECT_EQ(lost, 0) << "of " << kWriters * kEach << " edits";
    EXPECT_NE(doc.FindParam(s, "name"), nullptr);
}

} // namespace
