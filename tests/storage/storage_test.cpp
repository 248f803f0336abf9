// The record storage over both streams through a small sample format: writing through one kind of
// stream and reading through the other, the end marker, cancel, and the mode checks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qv_storage.h"
#include "sample_format.h"
#include "storage_test_util.h"

using namespace Quorvel;
using storagetest::Bytes;
using storagetest::cSampleFormat;
using storagetest::Load;

namespace {

struct Rec {
    unsigned id;
    unsigned count;
    int delta;
    std::string name;
};

const std::vector<Rec> kRecords = {
    {1, 42, -7, "first"},
    {4294967295u, 0, -2147483647 - 1, ""}, // the end marker's identifier, told apart by format
    {17, 4294967295u, 2147483647, "with ; and \n inside"},
};

const char kStored[] = "QVS1\n"
                       "#1;42;-7;5:first\n"
                       "#4294967295;0;-2147483648;0:\n"
                       "#17;4294967295;2147483647;19:with ; and \n inside\n";

void WriteAll(iDataIO &io) {
    cSampleFormat format(&io);
    cDataStorage st(cDataStorage::eModeWrite, &format);
    ASSERT_TRUE(st.Begin());
    for (const Rec &r : kRecords) {
        cDataFormat *f = nullptr;
        ASSERT_TRUE(st.WriteRecordBegin(r.id, f));
        ASSERT_EQ(f, &format);
        ASSERT_TRUE(f->WriteUlong(r.count));
        ASSERT_TRUE(f->WriteLong(r.delta));
        ASSERT_TRUE(f->WriteString(r.name.c_str()));
        ASSERT_TRUE(st.WriteRecordEnd(1, reinterpret_cast<const unsigned char *>("\n")));
    }
    ASSERT_TRUE(st.End());
}

// Reads every record; the second one is cancelled once and read again.
void ReadAll(iDataIO &io, std::vector<Rec> &out) {
    cSampleFormat format(&io);
    cDataStorage st(cDataStorage::eModeRead, &format);
    ASSERT_TRUE(st.Begin());
    bool cancelled = false;
    for (;;) {
        unsigned id = 0;
        cDataFormat *f = nullptr;
        const unsigned start = io.Tell();
        ASSERT_TRUE(st.ReadRecordBegin(id, f));
        if (!f) {
            EXPECT_EQ(id, 4294967295u);
            break;
        }
        Rec r{id, 0, 0, ""};
        ASSERT_TRUE(f->ReadUlong(r.count));
        if (out.size() == 1 && !cancelled) {
            ASSERT_TRUE(f->ReadLong(r.delta));
            ASSERT_TRUE(st.ReadRecordCancel());
            EXPECT_EQ(io.Tell(), start);
            cancelled = true;
            continue;
        }
        cQV_String name;
        ASSERT_TRUE(f->ReadLong(r.delta));
        ASSERT_TRUE(f->ReadString(name));
        r.name = static_cast<const char *>(name);
        ASSERT_TRUE(st.ReadRecordEnd());
        out.push_back(r);
    }
    EXPECT_TRUE(cancelled);
    ASSERT_TRUE(st.End());
}

void ExpectRecords(const std::vector<Rec> &got) {
    ASSERT_EQ(got.size(), kRecords.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].id, kRecords[i].id) << i;
        EXPECT_EQ(got[i].count, kRecords[i].count) << i;
        EXPECT_EQ(got[i].delta, kRecords[i].delta) << i;
        EXPECT_EQ(got[i].name, kRecords[i].name) << i;
    }
}

class Storage : public storagetest::TempDirTest {};

} // namespace

TEST_F(Storage, WrittenToAFileReadsBackFromMemory) {
    const std::string path = Path("s.sto");
    {
        cFileIO file;
        ASSERT_TRUE(file.Open(path.c_str(), "wb"));
        WriteAll(file);
        ASSERT_TRUE(file.Close());
    }
    const std::string stored = ReadFile("s.sto");
    EXPECT_EQ(stored, kStored);
    cMemoryIO mem;
    Load(mem, stored);
    std::vector<Rec> got;
    ReadAll(mem, got);
    ExpectRecords(got);
    // Memory reaches its end without a failure.
    EXPECT_TRUE(mem.GetStatus().IsNotError());
}

TEST_F(Storage, WrittenToMemoryReadsBackFromAFile) {
    cMemoryIO mem;
    WriteAll(mem);
    EXPECT_EQ(Bytes(mem), kStored);
    WriteFile("m.sto", Bytes(mem));
    cFileIO file;
    ASSERT_TRUE(file.Open(Path("m.sto").c_str(), "rb"));
    std::vector<Rec> got;
    ReadAll(file, got);
    ExpectRecords(got);
    // The file's end was found by a one-byte read that failed while skipping the last line feed.
    EXPECT_EQ(std::string(file.GetStatus().text),
              "Failed to read 1 bytes from file [" + Path("m.sto") + "]");
}

TEST_F(Storage, OnlySeparatorsOrNothingIsTheEnd) {
    for (const std::string &bytes :
         {std::string(), std::string(" \t\r\n;;\n"), std::string("\0\0 \0", 4)}) {
        cMemoryIO io;
        Load(io, bytes);
        cSampleFormat format(&io);
        cDataStorage st(cDataStorage::eModeRead, &format);
        unsigned id = 0;
        cDataFormat *f = &format;
        ASSERT_TRUE(st.ReadRecordBegin(id, f));
        EXPECT_EQ(id, 4294967295u);
        EXPECT_EQ(f, nullptr);
        EXPECT_TRUE(io.GetStatus().IsNotError());
        EXPECT_EQ(io.Tell(), bytes.size());
    }
}

TEST_F(Storage, ZeroBytesBetweenRecordsAreSkipped) {
    cMemoryIO io;
    Load(io, std::string("\0#5\0\0;6\0", 8));
    cSampleFormat format(&io);
    cDataStorage st(cDataStorage::eModeRead, &format);
    unsigned id = 0, v = 0;
    cDataFormat *f = nullptr;
    ASSERT_TRUE(st.ReadRecordBegin(id, f));
    EXPECT_EQ(id, 5u);
    ASSERT_TRUE(f);
    ASSERT_TRUE(f->ReadUlong(v));
    EXPECT_EQ(v, 6u);
    ASSERT_TRUE(st.ReadRecordBegin(id, f));
    EXPECT_EQ(f, nullptr);
}

// Separators stop before the first other byte, so a record's identifier is read from its start.
TEST_F(Storage, SkippingSeparatorsStopsBeforeTheRecord) {
    cMemoryIO io;
    Load(io, " ;\n#12");
    cSampleFormat format(&io);
    ASSERT_TRUE(format.ReadDelims());
    EXPECT_EQ(io.Tell(), 3u);
    ASSERT_TRUE(format.ReadDelims()); // nothing to skip
    EXPECT_EQ(io.Tell(), 3u);
}

TEST_F(Storage, CancelReturnsToBeforeTheSeparators) {
    cMemoryIO io;
    Load(io, "QVS1\n#1;2\n \n#3;4\n");
    cSampleFormat format(&io);
    cDataStorage st(cDataStorage::eModeRead, &format);
    ASSERT_TRUE(st.Begin());
    unsigned id = 0, v = 0;
    cDataFormat *f = nullptr;
    ASSERT_TRUE(st.ReadRecordBegin(id, f) && f);
    ASSERT_TRUE(f->ReadUlong(v));
    const unsigned second = io.Tell(); // before "\n \n#3"
    ASSERT_TRUE(st.ReadRecordBegin(id, f) && f);
    EXPECT_EQ(id, 3u);
    ASSERT_TRUE(f->ReadUlong(v));
    ASSERT_TRUE(st.ReadRecordCancel());
    EXPECT_EQ(io.Tell(), second);
    ASSERT_TRUE(st.ReadRecordBegin(id, f) && f);
    EXPECT_EQ(id, 3u);
}

TEST_F(Storage, AFailedIdentifierReadIsCancelledOnceTheStatusIsCleared) {
    cMemoryIO io;
    Load(io, "  #x");
    cSampleFormat format(&io);
    cDataStorage st(cDataStorage::eModeRead, &format);
    unsigned id = 9;
    cDataFormat *f = &format;
    EXPECT_FALSE(st.ReadRecordBegin(id, f));
    EXPECT_EQ(f, &format); // untouched
    EXPECT_STREQ(io.GetStatus().text, "Failed to read tUlong");
    EXPECT_FALSE(st.ReadRecordCancel()); // the status is sticky
    io.GetStatus().Reset();
    ASSERT_TRUE(st.ReadRecordCancel());
    EXPECT_EQ(io.Tell(), 0u);
}

TEST_F(Storage, OperationsOfTheOtherModeFailAndTouchNothing) {
    cMemoryIO io;
    Load(io, "QVS1\n#1\n");
    cSampleFormat format(&io);
    cDataStorage reader(cDataStorage::eModeRead, &format);
    cDataFormat *f = nullptr;
    EXPECT_FALSE(reader.WriteRecordBegin(1, f));
    EXPECT_FALSE(reader.WriteRecordEnd(1, reinterpret_cast<const unsigned char *>("x")));
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(Bytes(io), "QVS1\n#1\n");
    EXPECT_EQ(io.Tell(), 0u);

    cDataStorage writer(cDataStorage::eModeWrite, &format);
    unsigned id = 5;
    EXPECT_FALSE(writer.ReadRecordBegin(id, f));
    EXPECT_FALSE(writer.ReadRecordEnd());
    EXPECT_FALSE(writer.ReadRecordCancel());
    EXPECT_EQ(id, 5u);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(io.Tell(), 0u);
    EXPECT_TRUE(reader.ReadRecordEnd());
    EXPECT_TRUE(io.GetStatus().IsNotError());

    // SetFormat switches the mode and keeps the saved record start.
    reader.SetFormat(cDataStorage::eModeWrite, &format);
    EXPECT_FALSE(reader.ReadRecordEnd());
}

TEST_F(Storage, TrailingBytesAreOptional) {
    cMemoryIO io;
    cSampleFormat format(&io);
    cDataStorage st(cDataStorage::eModeWrite, &format);
    EXPECT_TRUE(st.WriteRecordEnd(0, reinterpret_cast<const unsigned char *>("x")));
    EXPECT_TRUE(st.WriteRecordEnd(3, nullptr));
    EXPECT_EQ(io.GetBuffer().GetLength(), 0u);
    EXPECT_TRUE(st.WriteRecordEnd(2, reinterpret_cast<const unsigned char *>("ab")));
    EXPECT_EQ(Bytes(io), "ab");
}

// The write Begin flushes: a file written this far is on the disk before any record.
TEST_F(Storage, BeginInWriteModeFlushesTheHeader) {
    cFileIO file;
    ASSERT_TRUE(file.Open(Path("b.sto").c_str(), "wb"));
    cSampleFormat format(&file);
    cDataStorage st(cDataStorage::eModeWrite, &format);
    ASSERT_TRUE(st.Begin());
    EXPECT_EQ(ReadFile("b.sto"), "QVS1\n");
    // A broken header fails the read Begin.
    cMemoryIO mem;
    Load(mem, "QVS2\n");
    cSampleFormat rf(&mem);
    cDataStorage rs(cDataStorage::eModeRead, &rf);
    EXPECT_FALSE(rs.Begin());
}

TEST_F(Storage, AStorageWithoutFormatOrStreamFails) {
    cDataStorage none;
    unsigned id = 0;
    cDataFormat *f = nullptr;
    EXPECT_FALSE(none.Begin());
    EXPECT_FALSE(none.ReadRecordBegin(id, f));
    EXPECT_FALSE(none.ReadRecordCancel());
    cSampleFormat streamless(nullptr);
    cDataStorage st(cDataStorage::eModeWrite, &streamless);
    EXPECT_FALSE(st.Begin());
    EXPECT_FALSE(st.WriteRecordBegin(1, f));
    EXPECT_FALSE(streamless.ReadDelims());
}
