// Strings and numeric text: formatting and base-64 integers.
#include <charconv>
#include <cstdio>
#include <string>

#include "bench_table.h"
#include "qv_string.h"

using Quorvel::cQV_DataConv;
using Quorvel::cQV_String;

namespace {

// A 100-byte result from a typical message format.
const char kFormat[] = "Failed to open file [%s] for read. GetLastError()=%d [%s] at line %d";
const char kPath[] = "/var/lib/fw/modules/cfg.ini";
const char kReason[] = "Denied!";

void FormatOurs(benchmark::State &state) {
    cQV_String s;
    for (auto _ : state) {
        cQV_String t;
        benchmark::DoNotOptimize(t.Format(kFormat, kPath, 13, kReason, 1234));
        s = t;
    }
    if (s.Length() != 100) state.SkipWithError("the result is not 100 bytes");
}

void FormatPeer(benchmark::State &state) {
    std::string s;
    for (auto _ : state) {
        std::string t;
        int n = std::snprintf(nullptr, 0, kFormat, kPath, 13, kReason, 1234);
        t.resize(static_cast<size_t>(n));
        std::snprintf(&t[0], t.size() + 1, kFormat, kPath, 13, kReason, 1234);
        benchmark::DoNotOptimize(t.data());
        s = t;
    }
    if (s.size() != 100) state.SkipWithError("the result is not 100 bytes");
}

void Base64Pairs(benchmark::State &state) {
    char buf[8];
    unsigned x = 0x9E3779B9u;
    int sum = 0;
    for (auto _ : state) {
        x = x * 1664525u + 1013904223u;
        int n = cQV_DataConv::LongToStr64(static_cast<int>(x), buf);
        buf[n] = '\0';
        int v = 0;
        cQV_DataConv::Str64ToLong(buf, v);
        sum += v;
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}

// The same round trip through the standard library's base-32 text conversions.
void Base32StdPairs(benchmark::State &state) {
    char buf[16];
    unsigned x = 0x9E3779B9u;
    int sum = 0;
    for (auto _ : state) {
        x = x * 1664525u + 1013904223u;
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<int>(x), 32);
        int v = 0;
        std::from_chars(buf, r.ptr, v, 32);
        sum += v;
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

QV_BENCH_ROW(format, "cQV_String::Format, 100-byte result", "<= 1.5x time", FormatOurs, FormatPeer);
QV_BENCH_ROW(b64, "LongToStr64 + Str64ToLong pairs (peer: std::to_chars/from_chars base 32)",
             ">= 50 M/s", Base64Pairs, Base32StdPairs);
