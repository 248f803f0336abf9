#include "cfg_test_util.h"

#include <string>

using namespace Quorvel;
using namespace cfgtest;

namespace {

class Document : public ::testing::Test {
protected:
    // Loads `text` into doc_ through the reader.
    void Load(const char *text) { ASSERT_TRUE(ReadText(doc_, dir_, text)); }
    cQV_CfgRecord *Sect(const char *name) { return doc_.FindSection(name); }

    TempDir dir_;
    cQV_CfgFile doc_;
};

TEST_F(Document, FindSectionIgnoresCaseAndSetSectKeepsTheName) {
    Load("a=0\n[MAIN] # old\nx=1\n");
    cQV_CfgRecord *s = doc_.FindSection("main");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(doc_.SetSect("main", false, nullptr), s);
    EXPECT_STREQ(s->GetName(), "MAIN");
    EXPECT_STREQ(s->GetComment(), "old");
    EXPECT_EQ(doc_.SetSect("Main", false, "new"), s);
    EXPECT_STREQ(s->GetComment(), "new");
    EXPECT_EQ(doc_.FindSection("a"), nullptr); // a parameter is no section
    EXPECT_EQ(doc_.FindSection(nullptr), nullptr);
    EXPECT_EQ(doc_.FindSection("mai"), nullptr);
    EXPECT_EQ(Dump(doc_), "P a = 0\nS MAIN # new\nP x = 1\n");
}

TEST_F(Document, EmptyNamesNeverMatch) {
    Load("[]\n[A]\n");
    EXPECT_EQ(doc_.FindSection(""), nullptr);
    cQV_CfgRecord *a = Sect("A");
    ASSERT_TRUE(doc_.AddParam(a, "", "v", nullptr));
    ASSERT_TRUE(doc_.AddParam(a, nullptr, "w", nullptr));
    EXPECT_EQ(doc_.FindParam(a, ""), nullptr);
    EXPECT_EQ(doc_.FindParam(a, nullptr), nullptr);
    EXPECT_FALSE(doc_.DelParam(a, ""));
    ASSERT_TRUE(doc_.SetParam(a, "", "x", nullptr)); // adds a third one instead of matching
    EXPECT_EQ(Dump(doc_), "S \nS A\nP  = v\nP  = w\nP  = x\n");
}

TEST_F(Document, SetSectAppendsNewSectionsAtTheVeryEnd) {
    Load("[A]\nx=1\n#c\n");
    cQV_CfgRecord *b = doc_.SetSect("B", false, "note");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->GetType(), eCfgSect);
    EXPECT_EQ(Dump(doc_), "S A\nP x = 1\nC # c\nS B # note\n");
}

TEST_F(Document, SetSectClearEmptiesTheBodyOnly) {
    Load("p=0\n[A]\n#c\nx=1\n\n[B]\ny=2\n");
    cQV_CfgRecord *a = doc_.SetSect("a", true, nullptr);
    ASSERT_EQ(a, Sect("A"));
    EXPECT_EQ(Dump(doc_), "P p = 0\nS A\nS B\nP y = 2\n");
    // A section whose body runs to the end of the document.
    doc_.SetSect("B", true, nullptr);
    EXPECT_EQ(Dump(doc_), "P p = 0\nS A\nS B\n");
}

TEST_F(Document, AddCommGoesAfterAnyRecordOrToTheFront) {
    Load("[A]\nx=1\n");
    ASSERT_TRUE(doc_.AddComm(nullptr, "first"));
    cQV_CfgRecord *x = doc_.FindParam(nullptr, "x");
    ASSERT_TRUE(doc_.AddComm(x, "after x"));
    ASSERT_TRUE(doc_.AddComm(Sect("A"), nullptr));
    EXPECT_EQ(Dump(doc_), "C # first\nS A\nC\nP x = 1\nC # after x\n");
}

TEST_F(Document, AddParamGoesAfterTheLastParameterOfTheBody) {
    struct Case {
        const char *text;
        const char *expected;
    };
    const Case cases[] = {
        {"[S]\n#c1\np1=1\n#c2\n[T]\nt=1\n",
         "S S\nC # c1\nP p1 = 1\nP n = v # k\nC # c2\nS T\nP t = 1\n"},
        {"[S]\n#c1\n", "S S\nP n = v # k\nC # c1\n"},
        {"[S]", "S S\nP n = v # k\n"},
    };
    for (const Case &c : cases) {
        cQV_CfgFile doc;
        ASSERT_TRUE(ReadText(doc, dir_, c.text));
        ASSERT_TRUE(doc.AddParam(doc.FindSection("S"), "n", "v", "k"));
        EXPECT_EQ(Dump(doc), c.expected) << c.text;
    }
}

TEST_F(Document, SetParamReplacesValueAndOnlyAGivenComment) {
    Load("[S]\nx = 1 # old\nx = 9\n[T]\ny=1\n");
    cQV_CfgRecord *s = Sect("S");
    ASSERT_TRUE(doc_.SetParam(s, "X", "2", nullptr));
    EXPECT_EQ(Dump(doc_), "S S\nP x = 2 # old\nP x = 9\nS T\nP y = 1\n");
    ASSERT_TRUE(doc_.SetParam(s, "x", nullptr, "new"));
    EXPECT_EQ(Dump(doc_), "S S\nP x =  # new\nP x = 9\nS T\nP y = 1\n");
    // A name that lives only in another section is added to this one.
    ASSERT_TRUE(doc_.SetParam(s, "y", "3", nullptr));
    EXPECT_EQ(Dump(doc_), "S S\nP x =  # new\nP x = 9\nP y = 3\nS T\nP y = 1\n");
}

TEST_F(Document, FindParamSearchesOneBody) {
    Load("a=0\n[S]\n#c\nx=1\nx=2\n[T]\ny=1\n");
    cQV_CfgRecord *x = doc_.FindParam(nullptr, "x");
    ASSERT_NE(x, nullptr);
    EXPECT_STREQ(x->GetValue(), "1");
    EXPECT_EQ(doc_.FindParam(x, "X"), x); // from a matching parameter: itself
    cQV_CfgRecord *x2 = doc_.FindParam(doc_.GetNext(x), "x");
    ASSERT_NE(x2, nullptr);
    EXPECT_STREQ(x2->GetValue(), "2");
    EXPECT_EQ(doc_.FindParam(nullptr, "a"), nullptr); // ahead of the first section
    EXPECT_EQ(doc_.FindParam(nullptr, "y"), nullptr); // in the next section
    EXPECT_EQ(doc_.FindParam(Sect("T"), "y")->GetValue(), "1");
    EXPECT_EQ(doc_.FindParam(Sect("S"), "c"), nullptr); // comments are not parameters
    cQV_CfgFile none;
    ASSERT_TRUE(ReadText(none, dir_, "a=0\n"));
    EXPECT_EQ(none.FindParam(nullptr, "a"), nullptr);
}

TEST_F(Document, DelParamRemovesTheFirstMatchEachTime) {
    Load("[S]\nx=1\ny=0\nx=2\n[T]\nx=3\n");
    cQV_CfgRecord *s = Sect("S");
    EXPECT_TRUE(doc_.DelParam(s, "x"));
    EXPECT_EQ(Dump(doc_), "S S\nP y = 0\nP x = 2\nS T\nP x = 3\n");
    EXPECT_TRUE(doc_.DelParam(s, "x"));
    EXPECT_FALSE(doc_.DelParam(s, "x")); // the one in T is out of reach
    EXPECT_EQ(Dump(doc_), "S S\nP y = 0\nS T\nP x = 3\n");
}

TEST_F(Document, DelSectLeavesEverythingElse) {
    Load("p=0\n[A]\nx=1\n#c\n[B]\ny=2\n");
    EXPECT_TRUE(doc_.DelSect("nothing"));
    EXPECT_EQ(Dump(doc_), "P p = 0\nS A\nP x = 1\nC # c\nS B\nP y = 2\n");
    EXPECT_TRUE(doc_.DelSect("a"));
    EXPECT_EQ(Dump(doc_), "P p = 0\nS B\nP y = 2\n");
    EXPECT_TRUE(doc_.DelSect("B"));
    EXPECT_EQ(Dump(doc_), "P p = 0\n");
}

TEST_F(Document, OperationsRefuseTheWrongKindOfRecord) {
    Load("[S]\np=1\n#c\n");
    cQV_CfgRecord *p = doc_.FindParam(nullptr, "p");
    cQV_CfgRecord *c = doc_.GetNext(p);
    ASSERT_EQ(c->GetType(), eCfgComm);
    for (cQV_CfgRecord *notSect : {p, c, static_cast<cQV_CfgRecord *>(nullptr)}) {
        EXPECT_FALSE(doc_.AddParam(notSect, "n", "v", nullptr));
        EXPECT_FALSE(doc_.SetParam(notSect, "p", "v", nullptr));
        EXPECT_FALSE(doc_.DelParam(notSect, "p"));
    }
    EXPECT_FALSE(doc_.DelComm(p));
    EXPECT_FALSE(doc_.DelComm(nullptr));
    EXPECT_EQ(Dump(doc_), "S S\nP p = 1\nC # c\n");
    EXPECT_TRUE(doc_.DelComm(c));
    EXPECT_EQ(Dump(doc_), "S S\nP p = 1\n");
}

TEST_F(Document, WalkAndDelAll) {
    Load("[S]\np=1\n");
    EXPECT_EQ(doc_.GetNext(nullptr), nullptr);
    EXPECT_EQ(doc_.GetRecords().GetFirst(), doc_.GetFirst());
    int n = 0;
    for (cQV_CfgRecord *r = doc_.GetRecords().GetFirst(); r; r = doc_.GetNext(r))
        ++n;
    EXPECT_EQ(n, 2);
    doc_.DelAll();
    EXPECT_EQ(doc_.GetFirst(), nullptr);
    EXPECT_EQ(Dump(doc_), "");
    EXPECT_NE(doc_.SetSect("again", false, nullptr), nullptr);
    EXPECT_EQ(Dump(doc_), "S again\n");
}

TEST_F(Document, CopiesShareNoRecord) {
    Load("[S] # s\np = 1 # c\n#x\n");
    cQV_CfgFile copy(doc_);
    EXPECT_EQ(Dump(copy), Dump(doc_));
    EXPECT_NE(copy.GetFirst(), doc_.GetFirst());
    ASSERT_TRUE(copy.SetParam(copy.FindSection("S"), "p", "2", nullptr));
    copy.DelSect("S");
    EXPECT_EQ(Dump(doc_), "S S # s\nP p = 1 # c\nC # x\n");

    cQV_CfgFile assigned;
    ASSERT_TRUE(ReadText(assigned, dir_, "[old]\n"));
    assigned = doc_;
    EXPECT_EQ(Dump(assigned), Dump(doc_));
    cQV_CfgFile &alias = assigned;
    assigned = alias; // self-assignment keeps everything
    EXPECT_EQ(Dump(assigned), Dump(doc_));
    doc_.DelAll();
    EXPECT_EQ(Dump(assigned), "S S # s\nP p = 1 # c\nC # x\n");
}

// Assigning a record copies its kind and texts; the target keeps its own place in the document,
// so the walk neither loops nor skips.
TEST_F(Document, AssigningARecordKeepsItsPlace) {
    Load("[A]\nx = 1 # one\n[B]\ny = 2\n");
    cQV_CfgRecord *x = doc_.FindParam(nullptr, "x");
    cQV_CfgRecord *b = Sect("B");
    *b = *x;
    EXPECT_EQ(Dump(doc_), "S A\nP x = 1 # one\nP x = 1 # one\nP y = 2\n");
    EXPECT_EQ(doc_.GetNext(x), b);
    EXPECT_EQ(doc_.FindSection("B"), nullptr);
}

} // namespace
