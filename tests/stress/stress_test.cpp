// Eight threads at once on each shared object of the library for a stretch of wall time
// (QV_STRESS_SECONDS, 10 s unless set), each test checking afterwards what the object must have
// kept: every log record whole and present once, no identifier twice, no wake-up lost, no two
// holders of a lock that excludes them, and data that only the lock protects left consistent.
#include "qv_error.h"
#include "qv_event.h"
#include "qv_log.h"
#include "qv_thread.h"
#include "qv_uid.h"
#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace Quorvel;

namespace {

const int kThreads = 8;

int StressSeconds() {
    const char *s = std::getenv("QV_STRESS_SECONDS");
    const int n = s ? std::atoi(s) : 0;
    return n > 0 ? n : 10;
}

// Runs body(thread index, until) on kThreads threads started together; each runs until the
// deadline (or its own end) and the call returns when all are done. A thread still running well
// past the deadline ends the program with a message instead of hanging the run.
void RunTeam(const std::function<void(int, std::chrono::steady_clock::time_point)> &body) {
    std::atomic<int> ready{0}, done{0};
    std::atomic<bool> go{false};
    std::chrono::steady_clock::time_point until;
    std::vector<std::thread> team;
    for (int t = 0; t < kThreads; ++t)
        team.emplace_back([&, t] {
            ready.fetch_add(1);
            while (!go.load())
                std::this_thread::yield();
            body(t, until);
            done.fetch_add(1);
        });
    ASSERT_TRUE(qvtest::WaitUntil([&] { return ready.load() == kThreads; }));
    until = std::chrono::steady_clock::now() + std::chrono::seconds(StressSeconds());
    go.store(true);
    if (!qvtest::WaitUntil([&] { return done.load() == kThreads; },
                           StressSeconds() * 1000 + qvtest::kBoundMs)) {
        std::fprintf(stderr, "FATAL: a stress thread is still running after its time\n");
        std::fflush(stderr);
        std::_Exit(3);
    }
    for (std::thread &th : team)
        th.join();
}

bool Before(std::chrono::steady_clock::time_point until) {
    return std::chrono::steady_clock::now() < until;
}

// A small per-thread generator, so that the mix of operations differs between threads and runs
// without any shared state.
struct tRandom {
    unsigned long long s;
    unsigned Next(unsigned n) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<unsigned>(s >> 33) % n;
    }
};

// Holds its value only through the lock: every step reads, waits a little and writes back, so
// that two threads inside at once lose an increment and leave the copies apart.
struct tGuarded {
    long value = 0;
    long copies[4] = {0, 0, 0, 0};
    void Bump() {
        const long v = value;
        for (volatile int spin = 0; spin < 20; spin = spin + 1) {
        }
        value = v + 1;
        for (long &c : copies)
            c = v + 1;
    }
    bool Consistent() const {
        for (long c : copies)
            if (c != value) return false;
        return true;
    }
};

TEST(Stress, LogRecordsFromEightThreadsArriveWholeAndOnce) {
    qvtest::TempDir dir;
    const std::string file = dir / "stress.log";
    cQV_Error err;
    cQV_Log *log = cQV_Log::Create(&err, file.c_str());
    ASSERT_NE(log, nullptr) << err.text;
    // Each message carries its thread, its number and a body of the thread's own letter, long
    // enough that writes of two records interleaving inside one would show.
    std::vector<long> written(kThreads, 0);
    std::vector<unsigned> ids(kThreads, 0);
    RunTeam([&](int t, std::chrono::steady_clock::time_point until) {
        ids[t] = osGetCurrentThreadId();
        const std::string body(120, static_cast<char>('a' + t));
        long n = 0;
        while (Before(until)) {
            // Bursts and pauses keep the file to some megabytes whatever the machine's speed.
            for (int i = 0; i < 10; ++i, ++n)
                cQV_Log::Log(log, 2, "stress.cpp", t, "t=%d n=%ld %s", t, n, body.c_str());
            osSleep(10);
        }
        written[t] = n;
    });
    delete log;

    std::string text = qvtest::ReadBytes(file);
    std::string lines; // the file's text with CR LF read as LF
    for (char c : text)
        if (c != '\r') lines += c;
    std::vector<std::set<long>> seen(kThreads);
    long records = 0, bad = 0, twice = 0;
    std::string firstBad;
    size_t pos = 0;
    while (pos < lines.size()) {
        std::string rec[4];
        for (std::string &line : rec) {
            const size_t end = lines.find('\n', pos);
            if (end == std::string::npos) {
                line = lines.substr(pos);
                pos = lines.size();
            } else {
                line = lines.substr(pos, end - pos);
                pos = end + 1;
            }
        }
        ++records;
        int t = -1, lineNo = -1;
        long n = -1;
        unsigned id = 0;
        const bool header =
            rec[0].size() == 24 &&
            std::sscanf(rec[1].c_str(), " [%X] LEVEL:2 FILE:stress.cpp[%d]", &id, &lineNo) == 2;
        const bool msg = std::sscanf(rec[2].c_str(), " MSG:t=%d n=%ld", &t, &n) == 2;
        const bool ok = header && msg && rec[3].empty() && t >= 0 && t < kThreads && lineNo == t &&
                        id == ids[t] &&
                        rec[2] == " MSG:t=" + std::to_string(t) + " n=" + std::to_string(n) + " " +
                                      std::string(120, static_cast<char>('a' + t));
        if (!ok) {
            if (bad++ == 0) firstBad = rec[0] + "|" + rec[1] + "|" + rec[2] + "|" + rec[3];
            continue;
        }
        if (!seen[t].insert(n).second) ++twice;
    }
    EXPECT_EQ(bad, 0) << "first malformed record: " << firstBad;
    EXPECT_EQ(twice, 0);
    long total = 0;
    for (int t = 0; t < kThreads; ++t) {
        total += written[t];
        EXPECT_GT(written[t], 0) << "thread " << t << " wrote nothing";
        // Every number from 0 to the last one written, once each.
        EXPECT_EQ(static_cast<long>(seen[t].size()), written[t]) << "thread " << t;
        if (!seen[t].empty()) {
            EXPECT_EQ(*seen[t].begin(), 0);
            EXPECT_EQ(*seen[t].rbegin(), written[t] - 1);
        }
    }
    EXPECT_EQ(records, total);
}

TEST(Stress, IdentifiersFromEightThreadsAreAllDistinct) {
    std::vector<std::vector<std::string>> made(kThreads);
    RunTeam([&](int t, std::chrono::steady_clock::time_point until) {
        cQV_Uid uid;
        while (Before(until)) {
            uid.Generate();
            made[t].push_back(std::string(reinterpret_cast<const char *>(uid.GetBuffer()), 16));
        }
    });
    std::set<std::string> all;
    size_t total = 0;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_FALSE(made[t].empty()) << "thread " << t << " made no identifier";
        total += made[t].size();
        all.insert(made[t].begin(), made[t].end());
    }
    EXPECT_EQ(all.size(), total) << total - all.size() << " identifiers made twice";
}

// Four pairs of threads pass a turn back and forth through two manual-reset events each; the
// waiting side resets its event before answering. A wake-up lost on the way leaves one side
// waiting out the whole time-out.
TEST(Stress, EventPingPongLosesNoWakeUp) {
    struct tPair {
        void *toB = nullptr, *toA = nullptr, *stop = nullptr;
        long turns = 0; // changed by one side at a time, handed over by the events
        std::atomic<long> lostA{0}, lostB{0}, answered{0};
    };
    tPair pairs[kThreads / 2];
    for (tPair &p : pairs) {
        cQV_Error err;
        ASSERT_TRUE(osCreateEvent(&err, false, p.toB)) << err.text;
        ASSERT_TRUE(osCreateEvent(&err, false, p.toA)) << err.text;
        ASSERT_TRUE(osCreateEvent(&err, false, p.stop)) << err.text;
    }
    const unsigned kWaitMs = 10000;
    RunTeam([&](int t, std::chrono::steady_clock::time_point until) {
        tPair &p = pairs[t / 2];
        if (t % 2 == 0) {
            while (Before(until)) {
                const long before = p.turns;
                osSetEvent(p.toB);
                if (osWaitForEvents(1, &p.toA, kWaitMs) != 0) {
                    p.lostA.fetch_add(1);
                    break;
                }
                osResetEvent(p.toA);
                if (p.turns != before + 1) p.lostA.fetch_add(1);
            }
            osSetEvent(p.stop);
        } else {
            void *events[2] = {p.stop, p.toB};
            for (;;) {
                const int which = osWaitForEvents(2, events, kWaitMs);
                if (which == 0) break;
                if (which != 1) {
                    p.lostB.fetch_add(1);
                    break;
                }
                osResetEvent(p.toB);
                ++p.turns;
                p.answered.fetch_add(1);
                osSetEvent(p.toA);
            }
        }
    });
    for (tPair &p : pairs) {
        EXPECT_EQ(p.lostA.load(), 0);
        EXPECT_EQ(p.lostB.load(), 0);
        EXPECT_GT(p.turns, 0);
        EXPECT_EQ(p.turns, p.answered.load());
        osDestroyEvent(p.toB);
        osDestroyEvent(p.toA);
        osDestroyEvent(p.stop);
    }
}

TEST(Stress, CriticalSectionAdmitsOneThreadAtATime) {
    void *cs = nullptr;
    cQV_Error err;
    ASSERT_TRUE(osCreateCriticalSection(&err, cs)) << err.text;
    tGuarded data;
    std::atomic<int> inside{0}, overlaps{0};
    std::vector<long> done(kThreads, 0);
    RunTeam([&](int t, std::chrono::steady_clock::time_point until) {
        tRandom r{static_cast<unsigned long long>(t) + 1};
        long n = 0;
        while (Before(until)) {
            // Now and then entered twice, as the section is recursive.
            const bool twice = r.Next(4) == 0;
            osEnterCriticalSection(cs);
            if (twice) osEnterCriticalSection(cs);
            if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
            data.Bump();
            if (!data.Consistent()) overlaps.fetch_add(1);
            inside.fetch_sub(1);
            if (twice) osLeaveCriticalSection(cs);
            osLeaveCriticalSection(cs);
            ++n;
        }
        done[t] = n;
    });
    long total = 0;
    for (long n : done)
        total += n;
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(data.value, total);
    EXPECT_TRUE(data.Consistent());
    osDestroyCriticalSection(cs);
}

// Mostly readers, some writers, some of them nesting a write or a read inside their write hold.
// Writers must be alone; readers may share but never overlap a writer; the data only writers
// change must read the same in all its copies to every reader.
TEST(Stress, ReadWriteMutexKeepsWritersAloneAndReadersConsistent) {
    void *m = nullptr;
    cQV_Error err;
    ASSERT_TRUE(osCreateMutex(&err, m)) << err.text;
    tGuarded data;
    std::atomic<int> readers{0}, writers{0}, maxReaders{0};
    std::atomic<long> faults{0};
    std::vector<long> writes(kThreads, 0), reads(kThreads, 0);
    RunTeam([&](int t, std::chrono::steady_clock::time_point until) {
        tRandom r{static_cast<unsigned long long>(t) * 7919 + 3};
        while (Before(until)) {
            if (r.Next(4) == 0) {
                osAcquireMutexWrite(m);
                const unsigned nest = r.Next(3); // 0: none, 1: another write hold, 2: a read
                if (nest == 1) osAcquireMutexWrite(m);
                if (nest == 2) osAcquireMutexRead(m);
                if (writers.fetch_add(1) != 0 || readers.load() != 0) faults.fetch_add(1);
                data.Bump();
                if (!data.Consistent()) faults.fetch_add(1);
                writers.fetch_sub(1);
                if (nest) osReleaseMutex(m);
                osReleaseMutex(m);
                ++writes[t];
            } else {
                osAcquireMutexRead(m);
                const int now = readers.fetch_add(1) + 1;
                int seen = maxReaders.load();
                while (now > seen && !maxReaders.compare_exchange_weak(seen, now)) {
                }
                if (writers.load() != 0) faults.fetch_add(1);
                if (!data.Consistent()) faults.fetch_add(1);
                readers.fetch_sub(1);
                osReleaseMutex(m);
                ++reads[t];
            }
        }
    });
    long totalWrites = 0, totalReads = 0;
    for (int t = 0; t < kThreads; ++t) {
        totalWrites += writes[t];
        totalReads += reads[t];
    }
    EXPECT_EQ(faults.load(), 0);
    EXPECT_EQ(data.value, totalWrites);
    EXPECT_GT(totalWrites, 0);
    EXPECT_GT(totalReads, 0);
    std::printf("%ld writes, %ld reads, at most %d readers at once\n", totalWrites, totalReads,
                maxReaders.load());
    osDestroyMutex(m);
}

} // namespace
