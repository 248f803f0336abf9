#include "cfg_test_util.h"

#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Quorvel;
using namespace cfgtest;

namespace {

struct LineCase {
    const char *text;     // the file, as it stands
    const char *expected; // Dump of what it reads as
};

// Test names show the start of the file text.
std::string Short(const char *text) {
    std::string s;
    for (const char *p = text; *p && s.size() < 24; ++p)
        s += *p == '\n' ? std::string("\\n") : *p == '\r' ? std::string("\\r") : std::string(1, *p);
    return s;
}
void PrintTo(const LineCase &c, std::ostream *os) {
    *os << Short(c.text);
}

class ParseLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(ParseLines, ReadsAs) {
    TempDir dir;
    cQV_CfgFile doc;
    ASSERT_TRUE(ReadText(doc, dir, GetParam().text));
    EXPECT_EQ(Dump(doc), GetParam().expected) << "file: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Format, ParseLines,
    ::testing::Values(
        LineCase{"[A]\nx = 1\ny=2 # two\n", "S A\nP x = 1\nP y = 2 # two\n"},
        // Parameters ahead of the first section stay ahead of it.
        LineCase{"a=1\nb=2\n[S]\nc=3", "P a = 1\nP b = 2\nS S\nP c = 3\n"},
        LineCase{"[A] any text\n[B]#c\n[ Main ]\n[]\n[  ]\n",
                 "S A # any text\nS B # c\nS Main\nS \nS \n"},
        LineCase{"key\nkey other words\nkey = # note\n",
                 "P key = \nP key =  # other words\nP key =  # note\n"},
        LineCase{"key = \"a#b\" # c\nkey = a#b\n", "P key = a#b # c\nP key = a # b\n"},
        // Quotes: only a leading one is dropped, and quotes or blanks at the end go.
        LineCase{"a = a b\nb = \"  x\"\nc = \"x  \"\nd = a\"b\ne = \"\"\nf = abc\"\"\n",
                 "P a = a b\nP b =   x\nP c = x\nP d = a\"b\nP e = \nP f = abc\n"},
        LineCase{"k = \"a # b\" ## x\n", "P k = a # b # # x\n"},
        LineCase{"; old style\n#\n\n   \t\n## x\n", "C # ; old style\nC\nC\nC\nC # # x\n"},
        LineCase{"=v\n!x\n.\n", "C # =v\nC # !x\nC # .\n"},
        LineCase{"k-9_x\xE9 = 1\n", "P k-9_x\xE9 = 1\n"},
        // Malformed lines end the reading; what came before stays.
        LineCase{"[A]\nx=1\n9key = 1\ny=2\n", "S A\nP x = 1\n"}, LineCase{"[Main Sect]\nx=1\n", ""},
        LineCase{"[Main.x]\n", ""}, LineCase{"a=1\n[Main\n", "P a = 1\n"}, LineCase{"[1x]\n", ""},
        // CR LF reads like LF; a missing final line feed loses nothing.
        LineCase{"[A]\r\nx = 1 # c\r\n\r\ny=\"q\"\r\n", "S A\nP x = 1 # c\nC\nP y = q\n"},
        LineCase{"[A]\nx = 1", "S A\nP x = 1\n"}));

TEST(Format, NulInsideALineEndsOnlyThatLine) {
    TempDir dir;
    cQV_CfgFile doc;
    std::string text("a = 1\0junk = 2\nb = 3\n", 21);
    ASSERT_TRUE(ReadText(doc, dir, text));
    EXPECT_EQ(Dump(doc), "P a = 1\nP b = 3\n");
}

// A physical line is read in pieces of at most 32767 bytes (line feed included), each parsed as
// a line of its own; a CR LF line end counts as one byte, as an LF.
TEST(Format, LongLinesSplitAt32767Bytes) {
    struct Case {
        size_t lineLen; // bytes before the line end
        const char *eol;
    };
    const Case cases[] = {{32766, "\n"},   {32766, "\r\n"}, {32767, "\n"},
                          {32767, "\r\n"}, {40000, "\n"},   {40000, "\r\n"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.lineLen) + (c.eol[0] == '\r' ? " CRLF" : " LF"));
        TempDir dir;
        std::string text = "k=" + std::string(c.lineLen - 2, 'v') + c.eol + "z=1\n";
        cQV_CfgFile doc;
        ASSERT_TRUE(ReadText(doc, dir, text));
        cQV_CfgRecord *r = doc.GetFirst();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->GetValue().Length(), c.lineLen < 32767 ? c.lineLen - 2 : 32765u);
        r = doc.GetNext(r);
        ASSERT_NE(r, nullptr);
        if (c.lineLen >= 32767) {
            // The rest of the line is a record of its own: the remaining value bytes read as a
            // parameter name, or, when only the line end is left, an empty comment.
            std::string rest(c.lineLen - 32767, 'v');
            EXPECT_EQ(r->GetType(), rest.empty() ? eCfgComm : eCfgParam);
            EXPECT_EQ(std::string(r->GetName()), rest);
            r = doc.GetNext(r);
            ASSERT_NE(r, nullptr);
        }
        EXPECT_EQ(std::string(r->GetName()), "z");
        EXPECT_EQ(doc.GetNext(r), nullptr);
    }
}

TEST(Format, ReadingTwiceAppends) {
    TempDir dir;
    cQV_CfgFile doc;
    ASSERT_TRUE(ReadText(doc, dir, "[A]\nx=1\n"));
    ASSERT_TRUE(ReadText(doc, dir, "[A]\nx=1\n"));
    EXPECT_EQ(Dump(doc), "S A\nP x = 1\nS A\nP x = 1\n");
}

TEST(Format, ReadFailures) {
    TempDir dir;
    cQV_CfgFile doc;
    ASSERT_TRUE(ReadText(doc, dir, "[keep]\n"));
    struct Case {
        std::string path;
        const char *message;
    };
    const std::string missing = dir / "missing.cfg";
    const std::string folder = dir.path().string();
    const Case cases[] = {
        {missing, "Files to open file [%s] for read"},
        {folder, "Files to open file [%s] for read"},
#ifndef _WIN32
        // Reading fails at once and for good here: the reader must stop and say so.
        {"/proc/self/mem", "Failed to read data from file [%s]"},
#endif
    };
    for (const Case &c : cases) {
        cQV_Error err;
        EXPECT_FALSE(doc.ReadFile(err, c.path.c_str())) << c.path;
        char msg[512];
        snprintf(msg, sizeof msg, c.message, c.path.c_str());
        EXPECT_EQ(err.code, 3);
        EXPECT_STREQ(err.file, "oscfg");
        EXPECT_STREQ(err.text, msg);
        EXPECT_GT(err.line, 0);
    }
    EXPECT_EQ(Dump(doc), "S keep\n");
}

#ifndef _WIN32
TEST(Format, UnreadableFolder) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    TempDir dir;
    std::string sub = dir / "locked";
    mkdir(sub.c_str(), 0700);
    WriteBytes(sub + "/a.cfg", "[A]\n");
    chmod(sub.c_str(), 0);
    cQV_CfgFile doc;
    cQV_Error err;
    EXPECT_FALSE(doc.ReadFile(err, (sub + "/a.cfg").c_str()));
    EXPECT_EQ(err.code, 3);
    chmod(sub.c_str(), 0700);
}
#endif

struct WriteCase {
    const char *in;  // file read into the document
    const char *out; // what writing it gives (LF shown; the platform's line end is written)
};

void PrintTo(const WriteCase &c, std::ostream *os) {
    *os << Short(c.in);
}

class WriteBack : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteBack, Writes) {
    TempDir dir;
    cQV_CfgFile doc;
    ASSERT_TRUE(ReadText(doc, dir, GetParam().in));
    std::string out = dir / "out.cfg";
    cQV_Error err;
    ASSERT_TRUE(doc.WriteFile(err, out.c_str())) << err.text;
    EXPECT_EQ(ReadBytes(out), Native(GetParam().out));
    // Reading the output and writing it again changes nothing.
    cQV_CfgFile again;
    ASSERT_TRUE(again.ReadFile(err, out.c_str()));
    ASSERT_TRUE(again.WriteFile(err, out.c_str()));
    EXPECT_EQ(ReadBytes(out), Native(GetParam().out));
}

INSTANTIATE_TEST_SUITE_P(
    Format, WriteBack,
    ::testing::Values(WriteCase{"[A]\nx = 1\ny=2 # two\n", "[A]\nx = 1\ny = 2 # two\n"},
                      // A section after a parameter gets an empty line before it; after a
                      // comment record, or at the start, it does not.
                      WriteCase{"[A]\na=1\n[B]\nb=2\n", "[A]\na = 1\n\n[B]\nb = 2\n"},
                      WriteCase{"[A]\na=1\n#c\n[B]\n", "[A]\na = 1\n# c\n[B]\n"},
                      WriteCase{"[A] # top\n[B]", "[A] # top\n\n[B]\n"},
                      WriteCase{"; old style\n#\n  \nk\n", "# ; old style\n\n\nk = \n"},
                      WriteCase{"", ""}));

TEST(Format, WritingAddsAnEmptyCommentBeforeASection) {
    TempDir dir;
    cQV_CfgFile doc;
    cQV_CfgRecord *a = doc.SetSect("A", false, nullptr);
    ASSERT_TRUE(doc.AddParam(a, "a", "1", nullptr));
    cQV_CfgRecord *b = doc.SetSect("B", false, nullptr);
    ASSERT_TRUE(doc.AddParam(b, "b", "2", nullptr));
    std::string out = dir / "o.cfg";
    cQV_Error err;
    ASSERT_TRUE(doc.WriteFile(err, out.c_str()));
    EXPECT_EQ(ReadBytes(out), Native("[A]\na = 1\n\n[B]\nb = 2\n"));
    cQV_CfgFile back;
    ASSERT_TRUE(back.ReadFile(err, out.c_str()));
    EXPECT_EQ(Dump(back), "S A\nP a = 1\nC\nS B\nP b = 2\n");
}

// Values set in memory are written as they stand, so what the format cannot quote is lost on
// the way back: the text after a '#' and leading blanks.
// The writer quotes a value only when the plain form would not read back, and only when the
// quoted form does; values the format cannot hold at all are written as they stand.
TEST(Format, WriterQuotesOnlyWhatNeedsIt) {
    struct Case {
        const char *value, *comment;
        const char *line; // as written
        bool survives;
    };
    const Case cases[] = {
        {"plain words", "", "k = plain words", true},
        {"", "c", "k =  # c", true},
        {"x#y", "", "k = \"x#y\"", true},
        {"http://x/#frag", "why", "k = \"http://x/#frag\" # why", true},
        {"  lead", "", "k = \"  lead\"", true},
        {"\tlead", "", "k = \"\tlead\"", true},
        {"\"q", "", "k = \"\"q\"", true},
        {"a\"b", "", "k = a\"b", true},
        {"a \" b # c", "", "k = a \" b # c", true},
        {"\"x\" # y", "", "k = \"\"x\" # y\"", true},
        {"a\"b", "c", "k = a\"b # c", false},
        {"trail  ", "", "k = trail  ", false},
        {"end\"", "", "k = end\"", false},
    };
    TempDir dir;
    std::string path = dir / "q.cfg";
    for (const Case &c : cases) {
        cQV_CfgFile doc;
        ASSERT_TRUE(doc.SetParam(doc.SetSect("S", false, nullptr), "k", c.value, c.comment));
        cQV_Error err;
        ASSERT_TRUE(doc.WriteFile(err, path.c_str())) << err.text;
        EXPECT_EQ(ReadBytes(path), Native("[S]\n" + std::string(c.line) + "\n")) << c.value;
        cQV_CfgFile back;
        ASSERT_TRUE(back.ReadFile(err, path.c_str()));
        cQV_CfgRecord *p = back.FindParam(nullptr, "k");
        ASSERT_NE(p, nullptr) << c.value;
        bool same =
            std::string(p->GetValue()) == c.value && std::string(p->GetComment()) == c.comment;
        EXPECT_EQ(same, c.survives) << c.value << " read back as [" << p->GetValue() << "]";
    }
}

// Ctrl-Z (0x1A) ends the text on Windows, as the system's text-mode reading has it; elsewhere
// it is a byte like any other.
TEST(Format, CtrlZEndsTheTextOnWindows) {
    TempDir dir;
    cQV_CfgFile doc;
    ASSERT_TRUE(ReadText(doc, dir, "[A]\nx = 1\n\x1Ay = 2\n[B]\n"));
#ifdef _WIN32
    EXPECT_EQ(Dump(doc), "S A\nP x = 1\n");
#else
    EXPECT_EQ(Dump(doc), "S A\nP x = 1\nC # \x1Ay = 2\nS B\n");
#endif
}

// The rules a program checks names and values against before it edits a file.
TEST(Format, NameAndParameterRules) {
    struct Name {
        const char *name;
        bool ok;
    };
    const Name names[] = {{"key", true},  {"_a-9", true}, {"\xC3\xA9t\xC3\xA9", true},
                          {"", false},    {"9a", false},  {"a b", false},
                          {"a.b", false}, {"a=b", false}, {nullptr, false}};
    for (const Name &n : names)
        EXPECT_EQ(cQV_CfgFile::IsName(n.name), n.ok) << (n.name ? n.name : "(null)");

    struct Param {
        std::string value;
        const char *comment;
        bool ok;
    };
    const Param params[] = {
        {"v", nullptr, true},
        {"", "c", true},
        {"a#b", "c", true},
        {"  lead", nullptr, true},
        {std::string(32762, 'v'), nullptr, true}, // "k = " and the value fill the piece
        {std::string(32763, 'v'), nullptr, false},
        {"trail ", nullptr, false},
        {"end\"", nullptr, false},
        {"a\nb", nullptr, false},
        {"a\"b", "c", false},
        {"v", " lead", false},
        {"v", "a\nb", false},
    };
    for (const Param &p : params)
        EXPECT_EQ(cQV_CfgFile::ParamSurvives("k", p.value.c_str(), p.comment), p.ok)
            << p.value.substr(0, 20) << " # " << (p.comment ? p.comment : "(null)");
    EXPECT_FALSE(cQV_CfgFile::ParamSurvives("9k", "v", nullptr));
}

} // namespace
