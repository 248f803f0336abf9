// Data streams: 10 million decimal numbers, each followed by one separator, written and read back
// (reading skips the separator through a record format's ReadDelims) through the memory stream
// and through the file stream, beside the standard library doing the same; and 100 MB written to
// a memory stream in 1-byte and 4 KiB pieces, with the buffer's linear growth, beside a vector.
#include "bench_table.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "qv_file.h"
#include "qv_storage.h"

using namespace Quorvel;

namespace {

const unsigned kNumbers = 10000000;

// Numbers of every length: a linear congruential sequence, the same for ours and the peer.
unsigned NumberAt(unsigned i) {
    return (i * 2654435761u) >> (i % 32);
}

// The process's peak resident memory since the last ResetPeakMemory, in MB (Linux; 0 elsewhere).
void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}
double PeakMemoryMB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        std::getline(status, key);
    }
    return 0;
}

// A record format that only knows its separators: the benchmark reads the numbers itself and
// skips what follows each through ReadDelims.
class cSpaceFormat : public cDataFormat {
public:
    explicit cSpaceFormat(iDataIO *io) { _io = io; }
    bool WriteRecordId(unsigned int) override { return false; }
    bool WriteUlong(unsigned int) override { return false; }
    bool WriteLong(int) override { return false; }
    bool WriteBytes(unsigned int, const unsigned char *) override { return false; }
    bool WriteString(const char *) override { return false; }
    bool WriteDelim() override { return false; }
    bool ReadRecordId(unsigned int &) override { return false; }
    bool ReadUlong(unsigned int &) override { return false; }
    bool ReadLong(int &) override { return false; }
    bool ReadBytes(unsigned int, unsigned char *) override { return false; }
    bool ReadString(cQV_String &) override { return false; }
    bool ReadDelim() override { return false; }
    bool WriteBegin() override { return true; }
    bool ReadBegin() override { return true; }
    const char *GetDelims() override { return " "; }
};

const unsigned char kSpace[] = {' '};

// Writes the numbers, rewinds and reads them back; false when a value differs.
bool RoundTrip(iDataIO &io) {
    for (unsigned i = 0; i < kNumbers; ++i) {
        io.WriteUlong(NumberAt(i));
        io.WriteBytes(1, kSpace);
    }
    if (!io.WriteFlush() || !io.Seek(0)) return false;
    cSpaceFormat format(&io);
    for (unsigned i = 0; i < kNumbers; ++i) {
        unsigned v = 0;
        if (!io.ReadUlong(v) || v != NumberAt(i)) return false;
        format.ReadDelims();
    }
    // A file stream finds its end by a failed one-byte read while skipping the last separator.
    return io.GetStatus().IsNotError() || io.IsEof();
}

void MemoryOurs(benchmark::State &state) {
    for (auto _ : state) {
        cMemoryIO io;
        if (!RoundTrip(io)) state.SkipWithError("the numbers did not read back");
    }
    state.SetItemsProcessed(state.iterations() * kNumbers);
}

void MemoryPeer(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<char> text;
        char digits[16];
        for (unsigned i = 0; i < kNumbers; ++i) {
            char *end = std::to_chars(digits, digits + sizeof digits, NumberAt(i)).ptr;
            text.insert(text.end(), digits, end);
            text.push_back(' ');
        }
        const char *p = text.data(), *last = text.data() + text.size();
        for (unsigned i = 0; i < kNumbers; ++i) {
            unsigned v = 0;
            p = std::from_chars(p, last, v).ptr;
            if (v != NumberAt(i)) state.SkipWithError("the numbers did not read back");
            while (p < last && *p == ' ')
                ++p;
        }
    }
    state.SetItemsProcessed(state.iterations() * kNumbers);
}

std::string BenchPath(const char *name) {
    return std::string(osGetTemp()) + name;
}

void FileOurs(benchmark::State &state) {
    const std::string path = BenchPath("qv_storage_bench_ours.txt");
    for (auto _ : state) {
        cFileIO io;
        if (!io.Open(path.c_str(), "w+b") || !RoundTrip(io))
            state.SkipWithError("the numbers did not read back");
        io.Close();
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * kNumbers);
}

void FilePeer(benchmark::State &state) {
    const std::string path = BenchPath("qv_storage_bench_peer.txt");
    for (auto _ : state) {
        std::FILE *f = std::fopen(path.c_str(), "w+b");
        for (unsigned i = 0; i < kNumbers; ++i)
            std::fprintf(f, "%u ", NumberAt(i));
        std::fflush(f);
        std::fseek(f, 0, SEEK_SET);
        for (unsigned i = 0; i < kNumbers; ++i) {
            unsigned v = 0;
            if (std::fscanf(f, "%u", &v) != 1 || v != NumberAt(i))
                state.SkipWithError("the numbers did not read back");
        }
        std::fclose(f);
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * kNumbers);
}

const unsigned kBulkBytes = 100u * 1024 * 1024;

void BulkOurs(benchmark::State &state, unsigned piece) {
    std::vector<unsigned char> bytes(piece, 'x');
    double peak = 0, block = 0;
    for (auto _ : state) {
        ResetPeakMemory();
        cMemoryIO io;
        for (unsigned n = 0; n < kBulkBytes; n += piece)
            io.WriteBytes(piece, bytes.data());
        if (io.GetBuffer().GetLength() != kBulkBytes) state.SkipWithError("short");
        peak = PeakMemoryMB();
        block = io.GetBuffer().GetSize() / 1048576.0;
    }
    state.counters["qv_peak_rss_MB"] = peak;
    state.counters["qv_block_MB"] = block;
    state.SetBytesProcessed(state.iterations() * kBulkBytes);
}

void BulkPeer(benchmark::State &state, unsigned piece) {
    std::vector<unsigned char> bytes(piece, 'x');
    double peak = 0, block = 0;
    for (auto _ : state) {
        ResetPeakMemory();
        std::vector<unsigned char> out;
        for (unsigned n = 0; n < kBulkBytes; n += piece)
            out.insert(out.end(), bytes.begin(), bytes.end());
        if (out.size() != kBulkBytes) state.SkipWithError("short");
        peak = PeakMemoryMB();
        block = out.capacity() / 1048576.0;
    }
    state.counters["qv_peak_rss_MB"] = peak;
    state.counters["qv_block_MB"] = block;
    state.SetBytesProcessed(state.iterations() * kBulkBytes);
}

void Bulk1Ours(benchmark::State &s) {
    BulkOurs(s, 1);
}
void Bulk1Peer(benchmark::State &s) {
    BulkPeer(s, 1);
}
void Bulk4kOurs(benchmark::State &s) {
    BulkOurs(s, 4096);
}
void Bulk4kPeer(benchmark::State &s) {
    BulkPeer(s, 4096);
}

QV_BENCH_ROW(memnumbers,
             "cMemoryIO 10M WriteUlong+sep, ReadUlong+ReadDelims (vs to_chars/from_chars)",
             "<= 2x time", MemoryOurs, MemoryPeer);
QV_BENCH_ROW(filenumbers, "cFileIO 10M WriteUlong+sep, ReadUlong+ReadDelims (vs fprintf/fscanf)",
             "<= 1.1x time", FileOurs, FilePeer);
QV_BENCH_ROW(bulk1, "cMemoryIO 100 MB in 1-byte writes, step 16 (vs vector)", "reported (time)",
             Bulk1Ours, Bulk1Peer);
QV_BENCH_ROW(bulk4k, "cMemoryIO 100 MB in 4 KiB writes, step 16 (vs vector)", "reported (time)",
             Bulk4kOurs, Bulk4kPeer);

} // namespace
