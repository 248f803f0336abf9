// Configuration files over a generated 10 MB file of sections, parameters with and without
// comments, comment lines and blank lines: ReadFile against inih's ini_parse on the same file,
// and WriteFile against GLib's g_key_file_to_data plus g_file_set_contents (GLib's own
// temporary-file-and-rename save) of the same content. Rates are in bytes per second.
#include "bench_table.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "qv_cfg.h"

#if defined(QV_HAVE_INIH)
#include <ini.h>
#endif
#if defined(QV_HAVE_GLIB)
#include <glib.h>
#endif

namespace {

namespace fs = std::filesystem;

// The generated input, made once and removed at exit.
struct Input {
    std::string dir, path, text;
    Input() {
        dir = (fs::temp_directory_path() / ("qv_cfg_bench." + std::to_string(::getpid()))).string();
        fs::create_directories(dir);
        path = dir + "/in.cfg";
        std::string &t = text;
        t.reserve(10 * 1024 * 1024 + 4096);
        unsigned sect = 0, n = 0;
        while (t.size() < 10u * 1024 * 1024) {
            // No comment after a section name: GLib's key files do not allow one there.
            t += "[section_" + std::to_string(sect++) + "]\n";
            t += "# settings of this part of the program, one per line\n";
            for (int i = 0; i < 40; ++i, ++n) {
                t += "key_" + std::to_string(i) + " = value number " + std::to_string(n);
                if (i % 3 == 0) t += " # why this value was chosen";
                t += "\n";
            }
            t += "\n";
        }
        std::FILE *f = std::fopen(path.c_str(), "wb");
        std::fwrite(t.data(), 1, t.size(), f);
        std::fclose(f);
    }
    ~Input() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

const Input &In() {
    static Input in;
    return in;
}

// Reading builds a document of about 300,000 records. Freeing it is not part of reading, so it
// happens outside the timed part, and so does the heap's deferred merging of the freed blocks
// (glibc does it inside the next large allocation). Two heap states are measured:
//  warm:  the freed memory stays with the process, as in a program that has been running;
//  fresh: the freed memory goes back to the system, so every read faults its pages in anew, as
//         in a program that reads its configuration once at start.
void ReadOurs(benchmark::State &state, bool warm) {
    const Input &in = In();
    Quorvel::cQV_Error err;
#if defined(__GLIBC__)
    if (warm) mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    for (auto _ : state) {
        Quorvel::cQV_CfgFile doc;
        if (!doc.ReadFile(err, in.path.c_str())) state.SkipWithError(err.text);
        state.PauseTiming();
        doc.DelAll();
#if defined(__GLIBC__)
        if (warm)
            free(malloc(4096)); // a large request merges the freed blocks, keeping them
        else
            malloc_trim(0);
#endif
        state.ResumeTiming();
    }
#if defined(__GLIBC__)
    if (warm) mallopt(M_TRIM_THRESHOLD, 128 * 1024);
#endif
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(in.text.size()));
}

void ReadOursWarm(benchmark::State &state) {
    ReadOurs(state, true);
}
void ReadOursFresh(benchmark::State &state) {
    ReadOurs(state, false);
}

#if defined(QV_HAVE_INIH)
int CountEntry(void *user, const char *, const char *, const char *) {
    ++*static_cast<size_t *>(user);
    return 1;
}

void ReadInih(benchmark::State &state) {
    const Input &in = In();
    size_t entries = 0;
    for (auto _ : state) {
        entries = 0;
        if (ini_parse(in.path.c_str(), CountEntry, &entries) != 0)
            state.SkipWithError("ini_parse failed");
    }
    benchmark::DoNotOptimize(entries);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(in.text.size()));
}
#endif

void WriteOurs(benchmark::State &state) {
    const Input &in = In();
    Quorvel::cQV_CfgFile doc;
    Quorvel::cQV_Error err;
    doc.ReadFile(err, in.path.c_str());
    std::string out = in.dir + "/ours.cfg";
    for (auto _ : state)
        if (!doc.WriteFile(err, out.c_str())) state.SkipWithError(err.text);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(out)));
}

#if defined(QV_HAVE_GLIB)
void WriteGlib(benchmark::State &state) {
    const Input &in = In();
    GKeyFile *kf = g_key_file_new();
    GError *gerr = nullptr;
    if (!g_key_file_load_from_data(kf, in.text.data(), in.text.size(), G_KEY_FILE_KEEP_COMMENTS,
                                   &gerr)) {
        state.SkipWithError(gerr ? gerr->message : "load failed");
        return;
    }
    std::string out = in.dir + "/glib.cfg";
    gsize len = 0;
    for (auto _ : state) {
        gchar *data = g_key_file_to_data(kf, &len, nullptr);
        if (!g_file_set_contents(out.c_str(), data, gssize(len), nullptr))
            state.SkipWithError("g_file_set_contents failed");
        g_free(data);
    }
    g_key_file_free(kf);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(len));
}
#endif

// The write row is registered as QvBenchRow does, but timed by the wall clock: both sides sync
// their file to the disk and wait for it, which processor time would not show. Reading runs
// from the page cache, so its processor time is its cost, also on a busy machine.
void WallClockRow(const char *row, const char *goal, void (*ours)(benchmark::State &),
                  void (*peer)(benchmark::State &)) {
    std::string name(row);
    benchmark::RegisterBenchmark((name + "|ours").c_str(), [ours, goal](benchmark::State &s) {
        ours(s);
        s.SetLabel(goal);
    })->UseRealTime();
    if (peer)
        benchmark::RegisterBenchmark((name + "|peer").c_str(), [peer, goal](benchmark::State &s) {
            peer(s);
            s.SetLabel(goal);
        })->UseRealTime();
}

#if !defined(QV_HAVE_INIH)
void (*const ReadInih)(benchmark::State &) = nullptr;
#endif
#if !defined(QV_HAVE_GLIB)
void (*const WriteGlib)(benchmark::State &) = nullptr;
#endif

QV_BENCH_ROW(readWarm, "cfg ReadFile 10 MB, warm heap (bytes/s) vs inih ini_parse", ">= 1x rate",
             ReadOursWarm, ReadInih);
QV_BENCH_ROW(readFresh, "cfg ReadFile 10 MB, fresh heap (bytes/s) vs inih ini_parse", ">= 1x rate",
             ReadOursFresh, ReadInih);
const int registered = (WallClockRow("cfg WriteFile 10 MB (bytes/s) vs GLib to_data+save",
                                     ">= 1x rate", WriteOurs, WriteGlib),
                        0);

} // namespace
