// Every interleaving of a few threads through the read/write mutex's own acquire and release
// steps. The steps of rwmutex.h run on real threads, but on operations that stop before each
// access to the shared record (the word, the waiter count, the guard, the event) and go on only
// when a scheduler lets them; one thread runs at a time. A depth-first search over the choice of
// thread at each such point replays every run from the start, and prunes a run where it reaches a
// state seen before (the shared record, the guard and event, what each thread has done so far and
// what it is about to do).
//
// The event wait has no time-out here: a waiter sleeps until the event is set. A state where no
// thread can move before all are done is therefore a wake-up the mutex lost (a real waiter would
// sit out the 10-second re-check) or a hold it refused. Each thread's script takes and gives
// back holds; after each hold is granted the thread checks that nobody holds the mutex in a way
// that excludes it, and at every point the word must agree with the holds granted. A failed
// compare-and-swap here fails only when the word changed: a spurious failure only reloads the
// same word and retries, which adds no state.
//
// A script may end by destroying the mutex, once its own last release has returned, where the
// scripts make that the sound thing for a user to do: every other thread's last release came
// before this thread's last hold was granted. From then on any access to the record by any
// thread (a releaser still inside its call) is a use of freed memory, and fails the run.
#include "qv_thread.h"
#include "sync/rwmutex.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

using namespace Quorvel;
using detail::RwMutexFlagged;
using detail::RwMutexHolds;
using detail::RwMutexOwner;

namespace {

// What a script does: take a hold, give one back, or wait for and raise flags that scripts use
// to pin down the moments a behaviour is about (a reader that must get in while a writer waits),
// or destroy the mutex.
enum eAction { eRead, eWrite, eRelease, eRaise, eAwait, eDestroy };
struct tAction {
    eAction action;
    unsigned flag; // for eRaise and eAwait
};
typedef std::vector<tAction> tScript;

// The accesses a thread stops before; the pending one and its arguments are part of the state.
enum eOp {
    eStart,
    eLoadWord,
    eCasWord,
    eAddWaiter,
    eRemoveWaiter,
    eWaiters,
    eEnter,
    eLeave,
    eReset,
    eSet,
    eWait,
    eAwaitFlag,
    eHold,
    eDone
};
const char *const kOpNames[] = {"start", "load",  "cas", "+waiter", "-waiter", "waiters", "enter",
                                "leave", "reset", "set", "wait",    "await",   "hold",    "done"};

struct tAbortRun {}; // unwinds a thread out of the steps when a run ends early

// Changes to the mutex's own operations, for the checks that show the explorer catches faults:
// releases that never see the waiter flag, threads that all report one id, and a release that
// reads the word once more after giving its hold back.
enum eFault { eNoFault, eNeverWake, eOneThreadId, eLookAfterRelease };

class cExplorer;

// The operations the steps run on: each access waits for the scheduler, then is done at once.
struct tModelOps {
    cExplorer *x;
    int me;
    std::uint64_t LoadWord(detail::tRwMutex *);
    bool CasWord(detail::tRwMutex *, std::uint64_t &expected, std::uint64_t desired);
    void AddWaiter(detail::tRwMutex *);
    void RemoveWaiter(detail::tRwMutex *);
    std::uint32_t Waiters(detail::tRwMutex *);
    void Enter(detail::tRwMutex *);
    void Leave(detail::tRwMutex *);
    void Reset(detail::tRwMutex *);
    void Set(detail::tRwMutex *);
    void Wait(detail::tRwMutex *);
    unsigned Self();
};
typedef detail::tRwMutexSteps<tModelOps> tSteps;

struct tResult {
    std::string fault; // empty when every interleaving passed
    unsigned long long runs = 0, states = 0, steps = 0, completed = 0;
};

class cExplorer {
public:
    cExplorer(std::vector<tScript> scripts, eFault fault)
        : _scripts(std::move(scripts)), _fault(fault), _n(static_cast<int>(_scripts.size())),
          _threads(_n) {
        for (int t = 0; t < _n; ++t)
            _workers.emplace_back([this, t] { Worker(t); });
    }
    ~cExplorer() {
        {
            std::lock_guard<std::mutex> lock(_mu);
            _quit = true;
        }
        _cv.notify_all();
        for (auto &w : _workers)
            w.join();
    }

    tResult Explore() {
        for (;;) {
            RunOnce();
            ++_result.runs;
            if (!_result.fault.empty()) break;
            while (!_path.empty() && _path.back().choice + 1 >= _path.back().count)
                _path.pop_back();
            if (_path.empty()) break;
            ++_path.back().choice;
        }
        _result.states = _visited.size();
        return _result;
    }

    // One access by thread `me`: a scheduling point, then the access itself. Returns the value
    // read (or the success of a compare-and-swap); `a` and `b` are its arguments.
    std::uint64_t Step(int me, eOp op, std::uint64_t a = 0, std::uint64_t b = 0,
                       std::uint64_t *expected = nullptr) {
        std::unique_lock<std::mutex> lock(_mu);
        if (_aborted) throw tAbortRun();
        tThread &self = _threads[me];
        self.op = op;
        self.a = a;
        self.b = b;
        if (_turn == -2) _turn = me; // the first thread in makes the first choice
        if (_turn == me && !_granted)
            Choose(lock, me);
        else
            AwaitTurn(lock, me);
        if (_destroyed && op != eHold && op != eAwaitFlag && op != eDone)
            Fail(lock, std::string("touched the mutex after its last user destroyed it: ") +
                           kOpNames[op]);
        std::uint64_t result = 0;
        switch (op) {
        case eLoadWord:
            result = _m.word.load();
            if (Blind(self)) result &= ~detail::kRwMutexWaiterFlag;
            break;
        case eCasWord: {
            const std::int32_t before = RwMutexHolds(*expected);
            if (Blind(self)) {
                // The flag is neither seen nor changed by this compare-and-swap.
                const std::uint64_t flag = _m.word.load() & detail::kRwMutexWaiterFlag;
                std::uint64_t seen = _m.word.load() & ~detail::kRwMutexWaiterFlag;
                result = seen == (*expected & ~detail::kRwMutexWaiterFlag);
                if (result)
                    _m.word.store((b & ~detail::kRwMutexWaiterFlag) | flag);
                else
                    *expected = seen;
            } else {
                result = _m.word.compare_exchange_strong(*expected, b);
            }
            // A release gives its hold back here, whoever took it.
            if (result && self.action == eRelease) {
                if (before < 0 && --_levels == 0) _writer = -1;
                if (before > 0) --_readers;
            }
            break;
        }
        case eAddWaiter:
        case eRemoveWaiter:
        case eWaiters:
            if (_guardOwner != me) Fail(lock, "used the waiter count outside the guard");
            if (op == eAddWaiter) ++_m.waiters;
            if (op == eRemoveWaiter) --_m.waiters;
            result = _m.waiters;
            break;
        case eEnter:
            _guardOwner = me;
            ++_guardDepth;
            break;
        case eLeave:
            if (_guardOwner != me) Fail(lock, "left a guard it does not hold");
            if (--_guardDepth == 0) _guardOwner = -1;
            break;
        case eReset:
        case eSet:
            if (_guardOwner != me) Fail(lock, "changed the event outside the guard");
            _signalled = op == eSet;
            break;
        default:
            break;
        }
        self.history.push_back(static_cast<std::uint64_t>(op));
        self.history.push_back(op == eCasWord ? (result << 63) | *expected : result);
        return result;
    }

    unsigned IdOf(int me) const { return _fault == eOneThreadId ? 7u : 1000u + me; }

    // True when thread `me`, in a release, is to read the word once more after giving back its
    // hold (the fault eLookAfterRelease).
    bool LooksAfterRelease(int me) const {
        return _fault == eLookAfterRelease && _threads[me].action == eRelease;
    }

private:
    struct tThread {
        eOp op = eStart;
        std::uint64_t a = 0, b = 0;
        unsigned pc = 0; // the script action it is in
        eAction action = eRead;
        std::vector<std::uint64_t> history; // accesses and results since the action began
        bool finished = false;              // out of this run (done or unwound)
        unsigned run = 0;                   // the last run it started
        std::condition_variable cv;         // where it waits for its turn
    };
    struct tNode {
        unsigned choice, count;
    };

    bool Enabled(int t) const {
        const tThread &th = _threads[t];
        switch (th.op) {
        case eEnter:
            return _guardOwner == -1 || _guardOwner == t;
        case eWait:
            return _signalled;
        case eAwaitFlag:
            return (_flags & th.a) != 0;
        case eDone:
            return false;
        default:
            return true;
        }
    }

    // A release that never sees the waiter flag (the fault eNeverWake).
    bool Blind(const tThread &self) const {
        return _fault == eNeverWake && self.action == eRelease;
    }

    std::string Key() const {
        std::ostringstream k;
        k << _m.word.load() << ' ' << _m.waiters << ' ' << _guardOwner << ' ' << _guardDepth << ' '
          << _signalled << ' ' << _flags << ' ' << _readers << ' ' << _writer << ' ' << _levels
          << ' ' << _destroyed;
        for (const tThread &th : _threads) {
            k << '|' << th.pc << ' ' << th.op << ' ' << th.a << ' ' << th.b;
            for (std::uint64_t h : th.history)
                k << ' ' << h;
        }
        return k.str();
    }

    std::string Trace() const {
        std::string s = "schedule:";
        for (const std::string &e : _trace)
            s += " " + e;
        return s;
    }

    void Fail(std::unique_lock<std::mutex> &lock, const std::string &what) {
        if (_result.fault.empty()) {
            char state[128];
            std::snprintf(state, sizeof state, " [holds %d owner %u waiters %u event %d]",
                          RwMutexHolds(_m.word.load()), RwMutexOwner(_m.word.load()), _m.waiters,
                          _signalled ? 1 : 0);
            _result.fault = what + state + "\n" + Trace();
        }
        Abort(lock);
    }

    [[noreturn]] void Abort(std::unique_lock<std::mutex> &lock) {
        _aborted = true;
        for (tThread &th : _threads)
            th.cv.notify_one();
        lock.unlock();
        throw tAbortRun();
    }

    // The word must always cover the holds the threads were granted and not yet gave back, and
    // while nobody is under the guard its waiter flag tells whether any thread waits.
    void CheckWord(std::unique_lock<std::mutex> &lock) {
        const std::int32_t holds = RwMutexHolds(_m.word.load());
        if (_writer >= 0 && (holds > -_levels || RwMutexOwner(_m.word.load()) != IdOf(_writer)))
            Fail(lock, "the word does not show the writer's holds");
        if (_readers > 0 && holds < _readers) Fail(lock, "the word does not show the read holds");
        if (_fault != eNeverWake && _guardOwner == -1 &&
            RwMutexFlagged(_m.word.load()) != (_m.waiters > 0))
            Fail(lock, "the waiter flag does not tell whether a thread waits");
    }

    // At a scheduling point (the caller's next access is recorded): picks the thread that runs
    // next and, unless it is the caller, hands over and waits for the caller's turn.
    void Choose(std::unique_lock<std::mutex> &lock, int me) {
        CheckWord(lock);
        std::vector<int> enabled;
        for (int t = 0; t < _n; ++t)
            if (Enabled(t)) enabled.push_back(t);
        bool allDone = true;
        for (const tThread &th : _threads)
            allDone = allDone && th.op == eDone;
        if (enabled.empty()) {
            if (allDone) {
                ++_result.completed;
                if (RwMutexHolds(_m.word.load()) != 0 || RwMutexFlagged(_m.word.load()) ||
                    _m.waiters != 0 || _guardOwner != -1)
                    Fail(lock, "all threads done but the mutex is not left free");
                Abort(lock); // the run is over; unwinds nothing but the caller's wait
            }
            Fail(lock, "no thread can move: a lost wake-up or a refused hold");
        }
        if (_depth >= kMaxDepth) Fail(lock, "a run longer than the bound");
        unsigned choice;
        if (_depth < _path.size()) {
            if (_path[_depth].count != enabled.size())
                Fail(lock, "the replay did not repeat the run (not deterministic)");
            choice = _path[_depth].choice;
        } else {
            if (!_visited.insert(Key()).second) Abort(lock); // explored from here before
            _path.push_back({0, static_cast<unsigned>(enabled.size())});
            choice = 0;
        }
        ++_depth;
        ++_result.steps;
        const int next = enabled[choice];
        char entry[48];
        std::snprintf(entry, sizeof entry, "T%d:%s", next, kOpNames[_threads[next].op]);
        _trace.push_back(entry);
        if (next == me) return;
        _turn = next;
        _granted = true;
        _threads[next].cv.notify_one();
        AwaitTurn(lock, me);
    }

    // Parks the caller at its pending access until the scheduler grants it.
    void AwaitTurn(std::unique_lock<std::mutex> &lock, int me) {
        _threads[me].cv.wait(lock, [&] { return (_turn == me && _granted) || _aborted; });
        if (_aborted) throw tAbortRun();
        _granted = false;
    }

    void RunOnce() {
        std::unique_lock<std::mutex> lock(_mu);
        _m.word.store(0);
        _m.waiters = 0;
        _destroyed = false;
        _guardOwner = -1;
        _guardDepth = 0;
        _signalled = false;
        _flags = 0;
        _readers = 0;
        _writer = -1;
        _levels = 0;
        _depth = 0;
        _aborted = false;
        _trace.clear();
        for (tThread &th : _threads) {
            th.op = eStart;
            th.a = th.b = 0;
            th.pc = 0;
            th.history.clear();
            th.finished = false;
        }
        ++_run;
        _turn = -2;
        _granted = false;
        _cv.notify_all();
        _cv.wait(lock, [&] {
            for (const tThread &th : _threads)
                if (th.run != _run || !th.finished) return false;
            return true;
        });
    }

    void Worker(int me) {
        unsigned seen = 0;
        tModelOps ops{this, me};
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(_mu);
                _cv.wait(lock, [&] { return _quit || _run != seen; });
                if (_quit) return;
                seen = _run;
                _threads[me].run = seen;
            }
            try {
                Step(me, eStart);
                RunScript(ops, me);
                Step(me, eDone); // never returns: the run ends or another thread goes on
            } catch (const tAbortRun &) {
            }
            {
                std::lock_guard<std::mutex> lock(_mu);
                _threads[me].finished = true;
                _threads[me].op = eDone;
            }
            _cv.notify_all();
        }
    }

    // A hold granted: runs between scheduling points, so the check is atomic with the access
    // that granted it.
    void Ghost(int me, eAction action) {
        std::unique_lock<std::mutex> lock(_mu);
        if (_writer >= 0 && _writer != me)
            Fail(lock, action == eRead ? "a reader got in beside a writer"
                                       : "two writers got in at once");
        if (_writer == me) {
            ++_levels; // the writer's own holds of either kind are write levels
            return;
        }
        if (action == eRead) {
            ++_readers;
            return;
        }
        if (_readers > 0) Fail(lock, "a writer got in beside a reader");
        _writer = me;
        _levels = 1;
    }

    void RunScript(tModelOps &ops, int me) {
        const tScript &script = _scripts[me];
        for (unsigned pc = 0; pc < script.size(); ++pc) {
            {
                std::lock_guard<std::mutex> lock(_mu);
                _threads[me].pc = pc;
                _threads[me].action = script[pc].action;
                _threads[me].history.clear();
            }
            const tAction &a = script[pc];
            switch (a.action) {
            // Others may run while the hold is kept: a point of its own.
            case eRead:
                tSteps::Acquire<false>(ops, &_m);
                Ghost(me, eRead);
                Step(me, eHold);
                break;
            case eWrite:
                tSteps::Acquire<true>(ops, &_m);
                Ghost(me, eWrite);
                Step(me, eHold);
                break;
            case eRelease:
                tSteps::Release(ops, &_m);
                break;
            case eRaise: {
                std::lock_guard<std::mutex> lock(_mu);
                _flags |= a.flag;
                break;
            }
            case eAwait:
                Step(me, eAwaitFlag, a.flag);
                break;
            case eDestroy: {
                std::lock_guard<std::mutex> lock(_mu);
                _destroyed = true;
                break;
            }
            }
        }
        std::lock_guard<std::mutex> lock(_mu);
        _threads[me].pc = static_cast<unsigned>(script.size());
        _threads[me].history.clear();
    }

    static const unsigned kMaxDepth = 4000;

    const std::vector<tScript> _scripts;
    const eFault _fault;
    const int _n;
    std::mutex _mu;
    std::condition_variable _cv;
    std::vector<std::thread> _workers;
    std::vector<tThread> _threads;
    bool _quit = false;
    unsigned _run = 0;
    int _turn = -1;        // the thread that runs; -2 before the first choice of a run
    bool _granted = false; // the running thread was chosen and has not yet done its access
    bool _aborted = false;

    // The model's shared state.
    detail::tRwMutex _m{};
    int _guardOwner = -1, _guardDepth = 0;
    bool _signalled = false;
    unsigned _flags = 0;
    bool _destroyed = false;
    // The holds granted and not yet given back, as the threads see them.
    int _readers = 0, _writer = -1, _levels = 0;

    std::vector<tNode> _path;
    unsigned _depth = 0;
    std::unordered_set<std::string> _visited;
    std::vector<std::string> _trace;
    tResult _result;
};

std::uint64_t tModelOps::LoadWord(detail::tRwMutex *) {
    return x->Step(me, eLoadWord);
}
bool tModelOps::CasWord(detail::tRwMutex *, std::uint64_t &expected, std::uint64_t desired) {
    const bool done = x->Step(me, eCasWord, expected, desired, &expected) != 0;
    if (done && x->LooksAfterRelease(me)) x->Step(me, eLoadWord);
    return done;
}
void tModelOps::AddWaiter(detail::tRwMutex *) {
    x->Step(me, eAddWaiter);
}
void tModelOps::RemoveWaiter(detail::tRwMutex *) {
    x->Step(me, eRemoveWaiter);
}
std::uint32_t tModelOps::Waiters(detail::tRwMutex *) {
    return static_cast<std::uint32_t>(x->Step(me, eWaiters));
}
void tModelOps::Enter(detail::tRwMutex *) {
    x->Step(me, eEnter);
}
void tModelOps::Leave(detail::tRwMutex *) {
    x->Step(me, eLeave);
}
void tModelOps::Reset(detail::tRwMutex *) {
    x->Step(me, eReset);
}
void tModelOps::Set(detail::tRwMutex *) {
    x->Step(me, eSet);
}
void tModelOps::Wait(detail::tRwMutex *) {
    x->Step(me, eWait);
}
unsigned tModelOps::Self() {
    return x->IdOf(me);
}

const tAction R{eRead, 0}, W{eWrite, 0}, U{eRelease, 0}, D{eDestroy, 0};
tAction Raise(unsigned f) {
    return {eRaise, f};
}
tAction Await(unsigned f) {
    return {eAwait, f};
}

struct tCase {
    const char *name;
    std::vector<tScript> threads;
};

class RwMutexInterleavings : public ::testing::TestWithParam<tCase> {};

TEST_P(RwMutexInterleavings, HoldExclusionAndWakeUpInEveryInterleaving) {
    cExplorer x(GetParam().threads, eNoFault);
    const tResult r = x.Explore();
    std::printf("[ %s ] %llu runs, %llu states, %llu steps, %llu complete runs\n", GetParam().name,
                r.runs, r.states, r.steps, r.completed);
    EXPECT_EQ(r.fault, "");
    EXPECT_GT(r.completed, 0u);
}

const unsigned kHeld = 1, kIn = 2;

INSTANTIATE_TEST_SUITE_P(
    Scripts, RwMutexInterleavings,
    ::testing::Values(
        // Writers exclude each other and each release wakes the other.
        tCase{"TwoWritersTwice", {{W, U, W, U}, {W, U, W, U}}},
        // Two readers share; the writer waits for both and is woken by the last.
        tCase{"TwoReadersAndAWriter", {{R, U}, {R, U}, {W, U}}},
        // Readers and writers mixed: one thread reads then writes, the other writes with a
        // read nested inside.
        tCase{"ReadThenWriteAgainstNestedWrite", {{R, U, W, U}, {W, R, U, U}}},
        // A reader gets in while a writer waits behind an earlier reader: the first reader keeps
        // its hold until the second is in, so a mutex that held readers back would stop here.
        tCase{"ReaderAdmittedWhileWriterWaits",
              {{R, Raise(kHeld), Await(kIn), U},
               {Await(kHeld), W, U},
               {Await(kHeld), R, Raise(kIn), U}}},
        // The writer nests write and read holds; nobody else gets in before the last release.
        tCase{"NestedWriteAndReadHolds",
              {{W, W, R, Raise(kHeld), U, U, U}, {Await(kHeld), R, U}, {Await(kHeld), W, U}}},
        // A reader asking to write waits for its own read hold, which another thread gives back.
        tCase{"ReaderAskingToWriteWaitsForItsReadHold",
              {{R, Raise(kHeld), W, U}, {Await(kHeld), U}}},
        // Releasing a free mutex keeps it free and usable by both kinds of hold.
        tCase{"ReleaseOfAFreeMutex", {{U, W, U}, {U, R, U}}},
        // The thread whose write hold could only be granted after the other's last release may
        // destroy the mutex after its own release, while that other release is still running.
        tCase{"TheNextWriterDestroysAfterAWriter", {{W, Raise(kHeld), U}, {Await(kHeld), W, U, D}}},
        tCase{"TheNextWriterDestroysAfterAReader", {{R, Raise(kHeld), U}, {Await(kHeld), W, U, D}}},
        tCase{"TheNextWriterDestroysAfterTwoReaders",
              {{R, Raise(kHeld), U}, {R, Raise(kIn), U}, {Await(kHeld), Await(kIn), W, U, D}}}),
    [](const ::testing::TestParamInfo<tCase> &info) { return std::string(info.param.name); });

// The explorer itself must catch faults: the same steps, with the operations changed so that a
// release never sees a waiter, so that every thread reports the same id, or so that a release
// looks at the word after giving its hold back.
TEST(RwMutexInterleavingChecks, FindsALostWakeUpWhenReleasesNeverSeeWaiters) {
    cExplorer x({{W, U}, {W, U}}, eNeverWake);
    const tResult r = x.Explore();
    EXPECT_NE(r.fault.find("no thread can move"), std::string::npos) << r.fault;
}

TEST(RwMutexInterleavingChecks, FindsTwoHoldersWhenThreadsShareOneId) {
    cExplorer x({{W, U}, {R, U}}, eOneThreadId);
    const tResult r = x.Explore();
    EXPECT_FALSE(r.fault.empty());
    std::printf("%s\n", r.fault.c_str());
}

TEST(RwMutexInterleavingChecks, FindsAReleaseThatTouchesTheMutexAfterGivingItsHoldBack) {
    cExplorer x({{W, Raise(kHeld), U}, {Await(kHeld), W, U, D}}, eLookAfterRelease);
    const tResult r = x.Explore();
    EXPECT_NE(r.fault.find("after its last user destroyed it"), std::string::npos) << r.fault;
}

} // namespace
