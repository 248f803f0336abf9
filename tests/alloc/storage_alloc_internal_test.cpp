// Allocation failures of the byte buffer and the memory stream: both grow their block with
// malloc and realloc. A refused growth returns false and leaves the block, its bytes, length and
// size (and the stream's position and status) as they were; the block is neither lost nor freed.
#include "alloc_steps.h"

#include "qv_storage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

using namespace Quorvel;
using allocsteps::Case;
using allocsteps::StepThrough;

namespace {

std::string Pattern(size_t n, unsigned char seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(seed + i * 7);
    return s;
}

const unsigned char *Bytes(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

// What a buffer holds, to compare before and after an operation.
struct tState {
    const unsigned char *data;
    unsigned length, size;
    std::string bytes;
};

tState StateOf(const cDataBuf &b) {
    const unsigned char *d = b;
    return {d, b.GetLength(), b.GetSize(),
            d ? std::string(reinterpret_cast<const char *>(d), b.GetLength()) : std::string()};
}

void ExpectUnchanged(const cDataBuf &b, const tState &before) {
    const tState now = StateOf(b);
    EXPECT_EQ(now.data, before.data) << "the block moved or was released";
    EXPECT_EQ(now.length, before.length);
    EXPECT_EQ(now.size, before.size);
    EXPECT_EQ(now.bytes, before.bytes);
}

TEST(AllocStepsStorage, DataBufferGrowthFailsWithoutChange) {
    const std::string first = Pattern(20, 1);
    const std::string more = Pattern(200, 50);
    struct Row {
        const char *name;
        bool startEmpty; // else the buffer holds `first` (length 20, size 32)
        bool (*op)(cDataBuf &, const std::string &more);
        unsigned size, length; // after success
        std::string (*expected)(const std::string &first, const std::string &more);
    } rows[] = {
        {"first block by SetSize", true,
         [](cDataBuf &b, const std::string &) { return b.SetSize(40); }, 48, 0,
         [](const std::string &, const std::string &) { return std::string(); }},
        {"first block by AddSegment", true,
         [](cDataBuf &b, const std::string &m) { return b.AddSegment(Bytes(m), 200); }, 208, 200,
         [](const std::string &, const std::string &m) { return m; }},
        {"growth by SetSize", false, [](cDataBuf &b, const std::string &) { return b.SetSize(33); },
         48, 20, [](const std::string &f, const std::string &) { return f; }},
        {"growth by SetLength", false,
         [](cDataBuf &b, const std::string &) { return b.SetLength(100); }, 112, 100, nullptr},
        {"growth by AddSegment", false,
         [](cDataBuf &b, const std::string &m) { return b.AddSegment(Bytes(m), 200); }, 224, 220,
         [](const std::string &f, const std::string &m) { return f + m; }},
        // The source lies in the block that moves.
        {"growth by AddSegment of its own bytes", false,
         [](cDataBuf &b, const std::string &) {
             return b.AddSegment(static_cast<unsigned char *>(b), 20);
         },
         48, 40, [](const std::string &f, const std::string &) { return f + f; }},
        {"shrinking by SetSize", false,
         [](cDataBuf &b, const std::string &) { return b.SetSize(10); }, 16, 16,
         [](const std::string &f, const std::string &) { return f.substr(0, 16); }},
    };
    for (const Row &row : rows) {
        std::unique_ptr<cDataBuf> buf;
        tState before{};
        bool ok = false;
        StepThrough({row.name,
                     [&] {
                         buf.reset(new cDataBuf(16));
                         if (!row.startEmpty) {
                             ASSERT_TRUE(buf->AddSegment(Bytes(first), 20));
                         }
                         before = StateOf(*buf);
                     },
                     [&] { ok = row.op(*buf, more); },
                     [&](bool failed) {
                         if (failed) {
                             EXPECT_FALSE(ok);
                             ExpectUnchanged(*buf, before);
                             return;
                         }
                         ASSERT_TRUE(ok);
                         EXPECT_EQ(buf->GetSize(), row.size);
                         EXPECT_EQ(buf->GetLength(), row.length);
                         if (row.expected) {
                             EXPECT_EQ(StateOf(*buf).bytes, row.expected(first, more));
                         } else {
                             EXPECT_EQ(StateOf(*buf).bytes.substr(0, 20), first);
                         }
                     },
                     allocsteps::CountsMalloc()});
    }
}

// A run of writes stops at the first refused growth: the stream then holds exactly the writes
// that were reported done, its position is their end, and its status stays clear (a refused
// allocation is not a stream failure).
TEST(AllocStepsStorage, MemoryStreamKeepsWhatWasWritten) {
    const std::string chunk = Pattern(23, 9);
    std::unique_ptr<cMemoryIO> io;
    // Made before any step is armed: the writes are what is stepped, not the test's own lists.
    const std::function<bool()> writes[] = {
        [&] { return io->WriteBytes(1, Bytes(chunk)); },
        [&] { return io->WriteUlong(4294967295u); },
        [&] { return io->WriteLong(-2147483647 - 1); },
        [&] { return io->WriteBytes(23, Bytes(chunk)); },
        [&] { return io->WriteBytes(23, Bytes(chunk)); },
        [&] { return io->WriteUlong(7); },
    };
    const std::string texts[] = {
        chunk.substr(0, 1), "4294967295", "-2147483648", chunk, chunk, "7"};
    int done = 0;
    StepThrough({"writes",
                 [&] {
                     io.reset(new cMemoryIO);
                     done = 0;
                 },
                 [&] {
                     while (done < 6 && writes[done]())
                         ++done;
                 },
                 [&](bool failed) {
                     EXPECT_EQ(done == 6, !failed) << done << " writes done";
                     EXPECT_EQ(io->GetStatus().code, 0) << (const char *)io->GetStatus().text;
                     std::string expected;
                     for (int i = 0; i < done; ++i)
                         expected += texts[i];
                     EXPECT_EQ(StateOf(io->GetBuffer()).bytes, expected);
                     EXPECT_EQ(io->Tell(), expected.size());
                     // The stream goes on once memory is there again.
                     EXPECT_TRUE(io->WriteBytes(3, Bytes(chunk)));
                     EXPECT_EQ(io->Tell(), expected.size() + 3);
                 },
                 allocsteps::CountsMalloc()});

    // A write that extends the stream from inside its bytes: a refusal leaves the bytes it
    // would have overwritten as they were.
    std::string before;
    const std::string tail = Pattern(20, 99);
    bool ok = false;
    StepThrough({"overwrite and extend",
                 [&] {
                     io.reset(new cMemoryIO);
                     ASSERT_TRUE(io->WriteBytes(16, Bytes(chunk)));
                     ASSERT_TRUE(io->Seek(10));
                     before = StateOf(io->GetBuffer()).bytes;
                 },
                 [&] { ok = io->WriteBytes(20, Bytes(tail)); },
                 [&](bool failed) {
                     if (failed) {
                         EXPECT_FALSE(ok);
                         EXPECT_EQ(StateOf(io->GetBuffer()).bytes, before);
                         EXPECT_EQ(io->Tell(), 10u);
                         EXPECT_EQ(io->GetStatus().code, 0);
                     } else {
                         EXPECT_TRUE(ok);
                         EXPECT_EQ(StateOf(io->GetBuffer()).bytes, before.substr(0, 10) + tail);
                     }
                 },
                 allocsteps::CountsMalloc()});
}

} // namespace
