// Identifier generation: 4 threads making 2000 identifiers each, against the same generator that
// sleeps a whole millisecond whenever the clock has not moved on.
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench_table.h"
#include "qv_time.h"
#include "qv_uid.h"

using Quorvel::cQV_Uid;
using Quorvel::tTimeb;

namespace {

constexpr int kThreads = 4;
constexpr int kEach = 2000;

// Runs make on kThreads threads, kEach times each, and counts identifiers that came out twice.
template <typename Make> int RunThreads(Make make) {
    std::vector<std::vector<std::string>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&made, &make, t] {
            made[t].reserve(kEach);
            for (int i = 0; i < kEach; ++i) {
                unsigned char b[16];
                make(b);
                made[t].emplace_back(reinterpret_cast<const char *>(b), sizeof b);
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    std::set<std::string> seen;
    int duplicates = 0;
    for (const auto &list : made)
        for (const std::string &s : list)
            if (!seen.insert(s).second) ++duplicates;
    return duplicates;
}

// The threads wait for the clock, not the processor: the rate is taken over wall time.
void Report(benchmark::State &state, std::chrono::steady_clock::time_point start, int duplicates) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["qv_ids_per_s"] =
        static_cast<double>(state.iterations()) * kThreads * kEach / seconds;
    state.counters["qv_duplicates"] = duplicates;
}

void GenerateOurs(benchmark::State &state) {
    int duplicates = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        duplicates += RunThreads([](unsigned char *b) {
            cQV_Uid u;
            u.Generate();
            std::memcpy(b, u.GetBuffer(), 16);
        });
    }
    Report(state, start, duplicates);
}

// The same time rule with a whole-millisecond sleep whenever the time has not moved on.
std::mutex gPeerLock;
tTimeb gPeerLast;

void GeneratePeer(benchmark::State &state) {
    gPeerLast.GetTime();
    int duplicates = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        duplicates += RunThreads([](unsigned char *b) {
            std::lock_guard<std::mutex> hold(gPeerLock);
            tTimeb now;
            now.GetTime();
            while (!(now > gPeerLast)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                now.GetTime();
            }
            gPeerLast = now;
            std::memset(b, 0, 16);
            std::memcpy(b + 10, &now.sec, 4);
            std::memcpy(b + 14, &now.ms, 2);
        });
    }
    Report(state, start, duplicates);
}

} // namespace

QV_BENCH_ROW(uidRate, "cQV_Uid::Generate, 4 threads x 2000 (peer: whole-ms sleeps)", ">= 990 ids/s",
             GenerateOurs, GeneratePeer);
