// Bounded waiting for the synchronisation tests: no test may hang, so every thread a test
// starts is joined within a limit, and a thread that overstays it ends the test program with a
// message instead of blocking the run.
#pragma once

#include "support/qvtest.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

namespace qvtest {

// A thread running one function, joined within kBoundMs.
class Worker {
public:
    explicit Worker(std::function<void()> fn)
        : thread_([this, fn] {
              fn();
              done_.store(true);
          }) {}
    ~Worker() { Join(); }
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    bool Done() const { return done_.load(); }

    void Join() {
        if (!thread_.joinable()) return;
        if (!WaitUntil([this] { return done_.load(); })) {
            std::fprintf(stderr, "FATAL: a test thread is still blocked after %d ms\n", kBoundMs);
            std::fflush(stderr);
            std::_Exit(3);
        }
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace qvtest
