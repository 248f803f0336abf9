// The reader of text held in memory against the file reader: the same bytes give the same
// document, whatever the line ends, piece and block boundaries or stray bytes. The writer into
// memory against the file writer: the same document gives the same bytes.
#include "cfg_test_util.h"

#include "cfg/cfg_read.h"
#include "cfg/cfg_seam.h"

#include <string>
#include <vector>

using namespace Quorvel;
using namespace cfgtest;

namespace {

struct Case {
    const char *what;
    std::string text;
    int records; // in the document read, so that an empty reading cannot pass
};

std::vector<Case> Cases() {
    const std::string longValue(40000, 'v');
    std::string blocks;
    for (int i = 0; i < 3000; ++i)
        blocks += "key" + std::to_string(i) + " = value " + std::to_string(i) + " # c\r\n";
    // A CR that fills a 32767-byte piece as the last byte of the first 64 KiB block, its LF the
    // first byte of the next: the piece still ends the line.
    const std::string crAtEdge =
        "[S]\n" + std::string(32764, 'x') + "\n" + std::string(32766, 'y') + "\r\nk = 1\n";
    return {
        {"empty", "", 0},
        {"sections, parameters and comments",
         "# head\n[server] # main\nhost = 127.0.0.1 # where\nurl = \"http://x/#f\"\n\n[e]\n", 6},
        {"CR LF and a last line without an end", "[A]\r\nx = 1\r\n\r\ny = 2", 4},
        {"a lone CR inside a line", "[A]\nx = a\rb\n", 2},
        {"a malformed line ends the reading", "[A]\nx = 1\n9bad = 2\ny = 3\n", 2},
        {"a NUL byte inside a line", std::string("[A]\nx = a\0b\ny = 2\n", 18), 3},
        {"a line longer than a piece", "[A]\nk = " + longValue + "\n", 3},
        {"many lines over several blocks", "[many]\n" + blocks, 3001},
        {"a CR LF split by the piece and the block", crAtEdge, 4},
        {"the text-end byte", "[A]\nx = 1\n\x1Ay = 2\n", 0},
    };
}

TEST(ReadBuffer, GivesTheDocumentOfTheSameFile) {
    TempDir dir;
    const int saved = detail::cfgTextEnd;
    for (int end : {-1, 0x1A}) {
        detail::cfgTextEnd = end;
        for (const Case &c : Cases()) {
            SCOPED_TRACE(std::string(c.what) + (end < 0 ? "" : ", with the text-end byte"));
            cQV_CfgFile fromFile, fromMemory;
            cQV_Error err;
            ASSERT_TRUE(ReadText(fromFile, dir, c.text));
            ASSERT_TRUE(detail::CfgReadBuffer(fromMemory, err, c.text.data(), c.text.size()));
            EXPECT_EQ(Dump(fromMemory), Dump(fromFile));
            int n = 0;
            for (cQV_CfgRecord *r = fromMemory.GetFirst(); r; r = fromMemory.GetNext(r))
                ++n;
            if (c.records > 0) {
                EXPECT_EQ(n, c.records);
            } else if (!c.text.empty()) {
                EXPECT_GT(n, 0);
            }
        }
    }
    detail::cfgTextEnd = saved;
}

TEST(ReadBuffer, AppendsToTheDocumentAndTakesNoBytes) {
    cQV_CfgFile doc;
    cQV_Error err;
    ASSERT_TRUE(detail::CfgReadBuffer(doc, err, "[A]\nx = 1\n", 10));
    ASSERT_TRUE(detail::CfgReadBuffer(doc, err, "y = 2\n", 6));
    ASSERT_TRUE(detail::CfgReadBuffer(doc, err, nullptr, 5));
    ASSERT_TRUE(detail::CfgReadBuffer(doc, err, "z = 3\n", 0));
    EXPECT_EQ(Dump(doc), "S A\nP x = 1\nP y = 2\n");
    EXPECT_EQ(err.code, 0);
}

// A sink that keeps what it is given and refuses every block from the `refuseFrom`-th on.
struct Sink {
    std::string text;
    int blocks = 0;
    int refuseFrom = -1;

    static bool Take(void *sink, const char *data, size_t n) {
        Sink &s = *static_cast<Sink *>(sink);
        if (s.refuseFrom >= 0 && s.blocks >= s.refuseFrom) return false;
        ++s.blocks;
        s.text.append(data, n);
        return true;
    }
};

TEST(WriteBuffer, GivesTheBytesOfTheFileWriter) {
    TempDir dir;
    const std::string out = dir / "out.cfg";
    for (const Case &c : Cases()) {
        SCOPED_TRACE(c.what);
        cQV_CfgFile doc;
        cQV_Error err;
        ASSERT_TRUE(detail::CfgReadBuffer(doc, err, c.text.data(), c.text.size()));
        ASSERT_TRUE(doc.WriteFile(err, out.c_str()));
        Sink sink;
        ASSERT_TRUE(detail::CfgWriteBuffer(doc, err, Sink::Take, &sink));
        EXPECT_EQ(sink.text, ReadBytes(out));
        EXPECT_EQ(sink.text.empty(), doc.GetFirst() == nullptr);
        EXPECT_EQ(err.code, 0);
    }
}

TEST(WriteBuffer, ARefusedBlockFailsTheWriting) {
    // About 90 KB of text: two blocks, so that both the first and a later refusal are seen.
    std::string text = "[many]\n";
    for (int i = 0; i < 3000; ++i)
        text += "key" + std::to_string(i) + " = value value value\n";
    cQV_CfgFile doc;
    cQV_Error err;
    ASSERT_TRUE(detail::CfgReadBuffer(doc, err, text.data(), text.size()));
    for (int refuseFrom : {0, 1}) {
        SCOPED_TRACE(refuseFrom);
        Sink sink;
        sink.refuseFrom = refuseFrom;
        cQV_Error failed;
        EXPECT_FALSE(detail::CfgWriteBuffer(doc, failed, Sink::Take, &sink));
        EXPECT_EQ(sink.blocks, refuseFrom);
        EXPECT_EQ(failed.code, 3);
        EXPECT_EQ(std::string(failed.text), "Failed to write data");
    }
}

} // namespace
