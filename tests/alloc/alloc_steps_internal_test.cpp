// Every allocation of an operation fails in turn. This test program replaces the global
// allocation functions: while a step is armed on the calling thread, the N-th allocation from
// then on (throwing or not) fails. Each case is run with N = 1, 2, ... until a run meets no
// armed failure, and after every run the case checks what the library promises: no exception
// escapes, the failure is reported the way the operation reports it, and what a failed operation
// was given to change (a string, a document, a file) is as it was. Leaks show in the ASan build.
#include "qv_cfg.h"
#include "qv_error.h"
#include "qv_event.h"
#include "qv_file.h"
#include "qv_log.h"
#include "qv_string.h"
#include "qv_thread.h"
#include "qv_uid.h"
#include "library.h"
#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <thread>
#include <vector>
#include <new>
#include <string>

namespace {

// 0: nothing armed; n > 0: the n-th allocation from now on this thread fails.
thread_local int t_failIn = 0;
// Set when an armed failure was handed out.
thread_local bool t_failed = false;

bool ShouldFail() {
    if (t_failIn > 0 && --t_failIn == 0) {
        t_failed = true;
        return true;
    }
    return false;
}

} // namespace

void *operator new(std::size_t n) {
    if (ShouldFail()) throw std::bad_alloc();
    if (void *p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t n) {
    return operator new(n);
}
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
    if (ShouldFail()) return nullptr;
    return std::malloc(n ? n : 1);
}
void *operator new[](std::size_t n, const std::nothrow_t &tag) noexcept {
    return operator new(n, tag);
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete[](void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept {
    std::free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept {
    std::free(p);
}

using namespace Quorvel;

namespace {

// Runs op with the step-th allocation failing; true when that failure was handed out.
bool RunStep(int step, const std::function<void()> &op) {
    t_failed = false;
    t_failIn = step;
    try {
        op();
    } catch (...) {
        t_failIn = 0;
        ADD_FAILURE() << "an exception left the library at step " << step;
        return false;
    }
    t_failIn = 0;
    return t_failed;
}

// Steps through every allocation of one case: prepare makes fresh inputs, op is the operation,
// check judges its outcome (on a run where an allocation failed, and on the final clean run).
struct Case {
    const char *name;
    std::function<void()> prepare;
    std::function<void()> op;
    std::function<void(bool failedAnAllocation)> check;
    // False where a platform may build the object without any allocation of ours (a Windows
    // event is the system's own object).
    bool allocates = true;
};

void StepThrough(const Case &c) {
    SCOPED_TRACE(c.name);
    int step = 1;
    for (; step < 100000; ++step) {
        c.prepare();
        const bool hit = RunStep(step, c.op);
        {
            SCOPED_TRACE(testing::Message() << "allocation " << step << " failed: " << hit);
            c.check(hit);
        }
        if (!hit) break;
        if (testing::Test::HasFailure()) return;
    }
    if (c.allocates) {
        EXPECT_GT(step, 1) << "the operation allocated nothing: the case tests nothing";
    }
}

const std::string kLong(300, 'x'); // longer than any small buffer the library keeps

TEST(AllocSteps, Strings) {
    cQV_String s, other;
    StepThrough({"construct and copy", [&] { s = nullptr; },
                 [&] {
                     cQV_String made(kLong.c_str());
                     cQV_String copy(made);
                     s = copy;
                 },
                 [&](bool) { EXPECT_TRUE(s == "" || s == kLong.c_str()); }});
    StepThrough({"append", [&] { s = "abc"; }, [&] { s += kLong.c_str(); },
                 [&](bool failed) {
                     const std::string full = "abc" + kLong;
                     if (failed)
                         EXPECT_TRUE(s == "abc" || s == full.c_str()) << (const char *)s;
                     else
                         EXPECT_TRUE(s == full.c_str());
                 }});
    StepThrough({"concatenate",
                 [&] {
                     s = "abc";
                     other = nullptr;
                 },
                 [&] { other = s + kLong.c_str(); },
                 [&](bool failed) {
                     EXPECT_TRUE(s == "abc");
                     if (!failed) {
                         EXPECT_TRUE(other == ("abc" + kLong).c_str());
                     }
                 }});
    int result = -1;
    StepThrough({"format",
                 [&] {
                     s = "old";
                     result = -1;
                 },
                 [&] { result = s.Format("%s-%d", kLong.c_str(), 42); },
                 [&](bool failed) {
                     const std::string full = kLong + "-42";
                     if (failed && result == 0) {
                         EXPECT_TRUE(s == "old") << "a failed format changed the text";
                         return;
                     }
                     EXPECT_EQ(result, static_cast<int>(full.size()));
                     EXPECT_TRUE(s == full.c_str());
                 }});
}

TEST(AllocSteps, ErrorRecords) {
    cQV_Error err;
    StepThrough({"set and copy", [&] { err.Reset(); },
                 [&] {
                     cQV_Error::SetFormat(&err, 3, "osio", 7, "message %s", kLong.c_str());
                     cQV_Error copy(err);
                     err = copy;
                 },
                 [&](bool) {
                     EXPECT_EQ(err.code, 3);
                     EXPECT_EQ(err.line, 7);
                     EXPECT_TRUE(err.text == "" || err.text == ("message " + kLong).c_str());
                 }});
    StepThrough({"read the text form", [&] { err.Reset(); },
                 [&] { err.FromString("3:183:4:osio:5:hello"); },
                 [&](bool failed) {
                     // Either read whole or not at all.
                     if (err.code == 0)
                         EXPECT_TRUE(failed && err.file == "" && err.text == "");
                     else
                         EXPECT_TRUE(err.code == 3 && err.file == "osio" && err.text == "hello");
                 }});
}

class AllocStepsFiles : public ::testing::Test {
protected:
    qvtest::TempDir dir_{"qv_alloc"};
};

std::string Dump(const cQV_CfgFile &doc) {
    std::string out;
    for (cQV_CfgRecord *r = doc.GetFirst(); r; r = doc.GetNext(r))
        out += std::to_string(r->GetType()) + "|" + std::string(r->GetName()) + "|" +
               std::string(r->GetValue()) + "|" + std::string(r->GetComment()) + "\n";
    return out;
}

TEST_F(AllocStepsFiles, ConfigurationReadingEditingAndSaving) {
    const std::string path = dir_ / "app.cfg";
    // The url needs the quoted form to survive a save.
    const std::string text = "# head\n[server]\nhost = 127.0.0.1 # where\nport = 8080\n"
                             "url = \"http://x/#frag\"\n\n[empty]\n";
    qvtest::WriteBytes(path, text);
    cQV_CfgFile reference;
    cQV_Error err;
    ASSERT_TRUE(reference.ReadFile(err, path.c_str()));
    const std::string expected = Dump(reference);

    cQV_CfgFile doc;
    bool ok = false;
    StepThrough({"read",
                 [&] {
                     doc.DelAll();
                     err.Reset();
                 },
                 [&] { ok = doc.ReadFile(err, path.c_str()); },
                 [&](bool) {
                     if (ok) {
                         EXPECT_EQ(Dump(doc), expected);
                     } else {
                         EXPECT_EQ(err.code, 7) << (const char *)err.text;
                         EXPECT_TRUE(err.file == "oscfg");
                     }
                 }});

    std::string before;
    StepThrough({"edit",
                 [&] {
                     doc = reference;
                     before = Dump(doc);
                 },
                 [&] {
                     cQV_CfgRecord *s = doc.FindSection("server");
                     ok = s && doc.SetParam(s, "port", kLong.c_str(), "changed") &&
                          doc.AddParam(s, "extra", "1", nullptr) &&
                          doc.SetSect("added", false, "new") != nullptr &&
                          doc.AddComm(nullptr, "first");
                 },
                 [&](bool) {
                     if (!ok) return; // a step that failed leaves what it had done so far
                     EXPECT_NE(Dump(doc), before);
                 }});

    // A failed single edit leaves the document as it was.
    StepThrough(
        {"one edit", [&] { doc = reference; },
         [&] { ok = doc.SetParam(doc.FindSection("server"), "port", kLong.c_str(), nullptr); },
         [&](bool) {
             if (ok)
                 EXPECT_NE(Dump(doc), expected);
             else
                 EXPECT_EQ(Dump(doc), expected);
         }});

    const std::string out = dir_ / "out.cfg";
    const std::string original = "[old]\nkept = yes\n";
    StepThrough({"save over an existing file",
                 [&] {
                     qvtest::WriteBytes(out, original);
                     err.Reset();
                 },
                 [&] { ok = reference.WriteFile(err, out.c_str()); },
                 [&](bool) {
                     if (ok) {
                         cQV_CfgFile back;
                         cQV_Error e;
                         EXPECT_TRUE(back.ReadFile(e, out.c_str()));
                         EXPECT_EQ(Dump(back), expected)
                             << "a save reported done wrote another text";
                     } else {
                         EXPECT_NE(err.code, 0);
                         EXPECT_EQ(qvtest::ReadBytes(out), original)
                             << "a failed save changed the file";
                     }
                 }});
}

TEST_F(AllocStepsFiles, LogCreationAndWriting) {
    const std::string path = dir_ / "app.log";
    cQV_Log *log = nullptr;
    cQV_Error err;
    StepThrough({"create", [&] { err.Reset(); }, [&] { log = cQV_Log::Create(&err, path.c_str()); },
                 [&](bool) {
                     if (log) {
                         delete log;
                         log = nullptr;
                     } else {
                         EXPECT_EQ(err.code, 7);
                     }
                 }});
    log = cQV_Log::Create(&err, path.c_str());
    ASSERT_NE(log, nullptr);
    std::string before;
    StepThrough({"write", [&] { before = qvtest::ReadBytes(path); },
                 [&] { cQV_Log::Log(log, 0, "alloc.cpp", 1, "record %s", kLong.c_str()); },
                 [&](bool) {
                     const std::string after = qvtest::ReadBytes(path);
                     ASSERT_GE(after.size(), before.size());
                     const std::string added = after.substr(before.size());
                     // A record is written whole or not at all.
                     if (!added.empty()) {
                         EXPECT_NE(added.find("MSG:record " + kLong), std::string::npos);
                     }
                 }});
    delete log;
}

unsigned Nothing(void *) {
    return 0;
}

TEST(AllocSteps, SynchronisationObjects) {
    cQV_Error err;
    void *handle = nullptr;
    bool ok = false;
    StepThrough({"event", [&] { err.Reset(); }, [&] { ok = osCreateEvent(&err, false, handle); },
                 [&](bool) {
                     if (ok)
                         osDestroyEvent(handle);
                     else
                         EXPECT_NE(err.code, 0);
                 },
                 false});
    StepThrough({"critical section", [&] { err.Reset(); },
                 [&] { ok = osCreateCriticalSection(&err, handle); },
                 [&](bool) {
                     if (ok)
                         osDestroyCriticalSection(handle);
                     else
                         EXPECT_EQ(err.code, 7);
                 }});
    StepThrough({"read/write mutex", [&] { err.Reset(); },
                 [&] { ok = osCreateMutex(&err, handle); },
                 [&](bool) {
                     if (ok) osDestroyMutex(handle);
                 }});
    StepThrough({"thread", [&] { err.Reset(); },
                 [&] { handle = osCreateThread(&err, Nothing, nullptr, nullptr); },
                 [&](bool) {
                     if (handle)
                         osCloseThread(handle);
                     else
                         EXPECT_TRUE(err.code == 7 || err.code == 4) << err.code;
                 }});
}

// Without its critical section (memory ran out at load) the generator still hands out each time
// stamp once: threads generating side by side get distinct, increasing times.
TEST(AllocSteps, IdentifierGenerator) {
    StepThrough({"generator state", [] { detail::FiniUidGenerator(); },
                 [] { detail::InitUidGenerator(); },
                 [](bool) {
                     constexpr int kThreads = 4, kEach = 25;
                     std::vector<std::vector<std::string>> made(kThreads);
                     std::vector<std::thread> threads;
                     for (int t = 0; t < kThreads; ++t) {
                         threads.emplace_back([&made, t] {
                             for (int i = 0; i < kEach; ++i) {
                                 cQV_Uid u;
                                 u.Generate();
                                 made[t].push_back(static_cast<const char *>(u.ToString()));
                             }
                         });
                     }
                     for (std::thread &t : threads)
                         t.join();
                     std::set<std::string> times;
                     for (const std::vector<std::string> &list : made)
                         for (const std::string &text : list)
                             times.insert(text.substr(22)); // bytes 10-15, the time
                     EXPECT_EQ(times.size(), static_cast<size_t>(kThreads * kEach));
                 }});
    cQV_Uid u;
    u.Buffer()[3] = 0xab;
    cQV_String text;
    StepThrough({"text form", [&] { text = nullptr; }, [&] { text = u.ToString(); },
                 [&](bool failed) {
                     if (failed)
                         EXPECT_EQ(text.Length(), 0u);
                     else
                         EXPECT_TRUE(text == "0x000000ab000000000000000000000000");
                 }});
}

} // namespace
