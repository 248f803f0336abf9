// Every allocation of an operation fails in turn. This file takes over the program's allocation
// functions (see alloc_steps.h) and holds the stepping loop; after every run a case checks what
// the library promises: no exception escapes, the failure is reported the way the operation
// reports it, and what a failed operation was given to change (a string, a document, a file) is
// as it was. Leaks show in the ASan build.
#include "alloc_steps.h"

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

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

// The functions that every allocation passes run before a sanitizer has set itself up (it
// allocates while it starts): they read their state without the sanitizer's checks.
#if defined(__GNUC__)
#define QVTEST_UNCHECKED __attribute__((no_sanitize_address, no_sanitize_thread))
#else
#define QVTEST_UNCHECKED
#endif

// The armed thread, or 0. The step's state below is touched by that thread alone. No thread-local
// variables: MinGW emulates them with blocks it allocates, which would come back here.
std::uintptr_t g_armedThread = 0; // read and written atomically
// n > 0: the n-th counted allocation from now on fails.
int g_failIn = 0;
// Set when the armed failure was handed out.
bool g_failed = false;
// The eScope of the armed step.
bool g_programOnly = false;

QVTEST_UNCHECKED std::uintptr_t ThisThread() {
#ifdef _WIN32
    return static_cast<std::uintptr_t>(GetCurrentThreadId());
#else
    return reinterpret_cast<std::uintptr_t>(reinterpret_cast<void *>(pthread_self()));
#endif
}

bool InProgram(const void *caller);

QVTEST_UNCHECKED bool ShouldFail(const void *caller) {
    if (__atomic_load_n(&g_armedThread, __ATOMIC_RELAXED) != ThisThread()) return false;
    if (g_failIn <= 0) return false;
    if (g_programOnly && !InProgram(caller)) return false;
    if (--g_failIn == 0) {
        g_failed = true;
        return true;
    }
    return false;
}

} // namespace

// ---- malloc, calloc, realloc ------------------------------------------------------------------
//
// glibc lets a program define the malloc family: its own calls inside the C library reach the
// program's functions too. They hand on to the allocator underneath: the C library's own entry
// points, or under a sanitizer the sanitizer's (which sees every block, so that its leak check
// still covers them).
//
// MinGW: the C runtime is a system DLL whose functions call its own allocator directly, and the
// import library binds malloc to the DLL; the program's code (library, libstdc++, winpthread, all
// linked statically) calls malloc through the import. Defining malloc in the program takes those
// calls over, and the DLL's allocator is reached through its exported entry points.

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QVTEST_UNDER_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QVTEST_UNDER_SANITIZER 1
#endif

#if defined(__GLIBC__)
#define QVTEST_COUNTS_MALLOC 1
extern "C" {
#ifdef QVTEST_UNDER_SANITIZER
void *__interceptor_malloc(size_t);
void *__interceptor_calloc(size_t, size_t);
void *__interceptor_realloc(void *, size_t);
void __interceptor_free(void *);
#define QVTEST_REAL(f) __interceptor_##f
#else
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
#define QVTEST_REAL(f) __libc_##f
#endif
// The start and end of the program's code, from the linker.
extern char __executable_start;
extern char etext;
}

namespace {
QVTEST_UNCHECKED bool InProgram(const void *caller) {
    const char *c = static_cast<const char *>(caller);
    return c >= &__executable_start && c < &etext;
}
} // namespace

extern "C" QVTEST_UNCHECKED void *malloc(size_t n) noexcept {
    if (ShouldFail(__builtin_return_address(0))) {
        errno = ENOMEM;
        return nullptr;
    }
    return QVTEST_REAL(malloc)(n);
}
extern "C" QVTEST_UNCHECKED void *calloc(size_t count, size_t n) noexcept {
    if (ShouldFail(__builtin_return_address(0))) {
        errno = ENOMEM;
        return nullptr;
    }
    return QVTEST_REAL(calloc)(count, n);
}
extern "C" QVTEST_UNCHECKED void *realloc(void *p, size_t n) noexcept {
    // realloc(p, 0) frees; only a request for memory can fail.
    if (n && ShouldFail(__builtin_return_address(0))) {
        errno = ENOMEM;
        return nullptr;
    }
    return QVTEST_REAL(realloc)(p, n);
}
extern "C" QVTEST_UNCHECKED void free(void *p) noexcept {
    QVTEST_REAL(free)(p);
}

#elif defined(_WIN32)
#define QVTEST_COUNTS_MALLOC 1

namespace {

// Everything that reaches the functions below comes from the program's own code.
bool InProgram(const void *) {
    return true;
}

// The runtime's own entry points, looked up at the first call (the runtime allocates before any
// constructor of ours runs). No function-local static: its guard takes a lock that allocates on
// first use, which would come back here. Every thread that looks them up finds the same values.
std::atomic<void *(*)(size_t)> g_malloc{nullptr};
std::atomic<void *(*)(size_t, size_t)> g_calloc{nullptr};
std::atomic<void *(*)(void *, size_t)> g_realloc{nullptr};
std::atomic<void (*)(void *)> g_free{nullptr};

template <typename F> F Entry(const char *name) {
    HMODULE dll = GetModuleHandleA("msvcrt.dll");
    if (!dll) dll = GetModuleHandleA("ucrtbase.dll");
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

template <typename F> F Real(std::atomic<F> &slot, const char *name) {
    F f = slot.load(std::memory_order_acquire);
    if (!f) {
        f = Entry<F>(name);
        slot.store(f, std::memory_order_release);
    }
    return f;
}

} // namespace

extern "C" void *malloc(size_t n) {
    if (ShouldFail(nullptr)) {
        errno = ENOMEM;
        return nullptr;
    }
    return Real(g_malloc, "malloc")(n);
}
extern "C" void *calloc(size_t count, size_t n) {
    if (ShouldFail(nullptr)) {
        errno = ENOMEM;
        return nullptr;
    }
    return Real(g_calloc, "calloc")(count, n);
}
extern "C" void *realloc(void *p, size_t n) {
    if (n && ShouldFail(nullptr)) {
        errno = ENOMEM;
        return nullptr;
    }
    return Real(g_realloc, "realloc")(p, n);
}
extern "C" void free(void *p) {
    Real(g_free, "free")(p);
}

#else
namespace {
bool InProgram(const void *) {
    return true;
}
} // namespace
#endif

// ---- operator new -------------------------------------------------------------------------------
//
// Where malloc is counted, operator new takes its memory from it and is counted there once;
// elsewhere it counts itself.

namespace {

void *Allocate(std::size_t n, const void *caller) {
#ifndef QVTEST_COUNTS_MALLOC
    if (ShouldFail(caller)) return nullptr;
#else
    (void)caller;
#endif
    return std::malloc(n ? n : 1);
}

} // namespace

void *operator new(std::size_t n) {
    if (void *p = Allocate(n, __builtin_return_address(0))) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t n) {
    if (void *p = Allocate(n, __builtin_return_address(0))) return p;
    throw std::bad_alloc();
}
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
    return Allocate(n, __builtin_return_address(0));
}
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept {
    return Allocate(n, __builtin_return_address(0));
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

namespace allocsteps {

bool CountsMalloc() {
#ifdef QVTEST_COUNTS_MALLOC
    return true;
#else
    return false;
#endif
}

bool RunStep(int step, const std::function<void()> &op, eScope scope) {
    g_failed = false;
    g_programOnly = scope == eScope::Program;
    g_failIn = step;
    __atomic_store_n(&g_armedThread, ThisThread(), __ATOMIC_RELAXED);
    bool threw = false;
    try {
        op();
    } catch (...) {
        threw = true;
    }
    __atomic_store_n(&g_armedThread, std::uintptr_t{0}, __ATOMIC_RELAXED);
    g_failIn = 0;
    if (threw) {
        ADD_FAILURE() << "an exception left the library at step " << step;
        return false;
    }
    return g_failed;
}

int StepThrough(const Case &c) {
    SCOPED_TRACE(c.name);
    int step = 1;
    for (; step < 100000; ++step) {
        c.prepare();
        const bool hit = RunStep(step, c.op, c.scope);
        {
            SCOPED_TRACE(testing::Message() << "allocation " << step << " failed: " << hit);
            c.check(hit);
        }
        if (!hit) break;
        if (testing::Test::HasFailure()) break;
    }
    if (c.allocates) {
        EXPECT_GT(step, 1) << "the operation allocated nothing: the case tests nothing";
    }
    std::printf("[ steps    ] %s: %d\n", c.name, step - 1);
    return step - 1;
}

const std::string kLong(300, 'x');

} // namespace allocsteps

using namespace Quorvel;
using allocsteps::Case;
using allocsteps::kLong;
using allocsteps::StepThrough;

namespace {

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
