// Reads a storage of arbitrary bytes through the sample record format over a memory stream:
// reading ends (the end marker or a failure) within one record per byte, the position never
// passes the length, and cancelling a record and reading it again gives the same identifier and
// fields. Every storage that reads completely is written again and must read back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../tests/storage/sample_format.h"
#include "qv_storage.h"

using namespace Quorvel;
using storagetest::cSampleFormat;

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "storage_read_fuzz: %s\n", what);
        std::abort();
    }
}

// A record of the fuzz layout: an identifier, a count of unsigned fields (at most 4), a signed
// field and a string.
struct Rec {
    unsigned id;
    std::vector<unsigned> numbers;
    int last;
    std::string text;
};

bool ReadFields(cDataFormat *f, Rec &r) {
    unsigned count;
    if (!f->ReadUlong(count) || count > 4) return false;
    r.numbers.resize(count);
    for (unsigned &n : r.numbers)
        if (!f->ReadUlong(n)) return false;
    cQV_String s;
    if (!f->ReadLong(r.last) || !f->ReadString(s)) return false;
    r.text = static_cast<const char *>(s);
    return f->ReadDelim();
}

// All records, or false when the storage does not read to its end marker.
bool ReadAll(cMemoryIO &io, std::vector<Rec> &out, bool cancelEach) {
    cSampleFormat format(&io);
    cDataStorage st(cDataStorage::eModeRead, &format);
    if (!st.Begin()) return false;
    const unsigned length = io.GetBuffer().GetLength();
    for (unsigned guard = 0; guard <= length + 1; ++guard) {
        Check(io.GetStatus().IsError() || io.Tell() <= length, "the position passed the length");
        unsigned id = 0;
        cDataFormat *f = &format;
        const unsigned start = io.Tell();
        if (!st.ReadRecordBegin(id, f)) return false;
        if (!f) {
            Check(id == 4294967295u && io.IsEof(), "an end marker away from the end");
            return st.End();
        }
        Check(f == &format, "a record with another format");
        Rec r{id, {}, 0, {}};
        if (!ReadFields(f, r)) return false;
        if (cancelEach) {
            Check(st.ReadRecordCancel() && io.Tell() == start, "cancel did not go back");
            unsigned again = 0;
            Check(st.ReadRecordBegin(again, f) && f && again == id, "reread identifier");
            Rec r2{again, {}, 0, {}};
            Check(ReadFields(f, r2), "reread fields failed");
            Check(r2.numbers == r.numbers && r2.last == r.last && r2.text == r.text,
                  "reread fields differ");
        }
        Check(st.ReadRecordEnd(), "ReadRecordEnd in read mode");
        out.push_back(r);
    }
    Check(false, "more records than bytes");
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    cMemoryIO io;
    cDataBuf buf(16);
    Check(buf.AddSegment(data, static_cast<unsigned>(size)), "loading the stream failed");
    io.SetBuffer(buf);
    std::vector<Rec> records;
    if (!ReadAll(io, records, false)) return 0;

    // The same bytes read with a cancel and a reread of every record.
    cDataBuf again(16);
    Check(again.AddSegment(data, static_cast<unsigned>(size)), "loading the stream failed");
    io.SetBuffer(again);
    std::vector<Rec> second;
    Check(ReadAll(io, second, true), "reading with cancels failed");
    Check(second.size() == records.size(), "reading with cancels gave another count");

    // Written again, the records read back the same.
    cMemoryIO out;
    cSampleFormat wf(&out);
    cDataStorage ws(cDataStorage::eModeWrite, &wf);
    Check(ws.Begin(), "write Begin");
    for (const Rec &r : records) {
        cDataFormat *f = nullptr;
        Check(ws.WriteRecordBegin(r.id, f) && f == &wf, "WriteRecordBegin");
        Check(f->WriteUlong(static_cast<unsigned>(r.numbers.size())), "write count");
        for (unsigned n : r.numbers)
            Check(f->WriteUlong(n), "write number");
        Check(f->WriteLong(r.last) && f->WriteString(r.text.c_str()) && f->WriteDelim(),
              "write fields");
        Check(ws.WriteRecordEnd(0, nullptr), "WriteRecordEnd");
    }
    Check(ws.End(), "End");
    Check(out.Seek(0), "rewind");
    std::vector<Rec> back;
    Check(ReadAll(out, back, false), "the written storage does not read");
    Check(back.size() == records.size(), "the written storage has another count");
    for (size_t i = 0; i < back.size(); ++i)
        Check(back[i].id == records[i].id && back[i].numbers == records[i].numbers &&
                  back[i].last == records[i].last && back[i].text == records[i].text,
              "a written record reads back differently");
    return 0;
}
