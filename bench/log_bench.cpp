// Log records per second into a file flushed after every record, against spdlog's file sink
// flushed on every message (flush_on(trace)) writing the same message in a similar layout.
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_table.h"
#include "qv_log.h"

#if defined(QV_BENCH_HAVE_SPDLOG)
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

using Quorvel::cQV_Log;

namespace {

std::string BenchFile(const char *name) {
    std::filesystem::path p = std::filesystem::temp_directory_path() / name;
    std::error_code ec;
    std::filesystem::remove(p, ec);
    return p.string();
}

void OursLog(benchmark::State &state) {
    const std::string path = BenchFile("qv_log_bench_ours.log");
    cQV_Log *log = cQV_Log::Create(nullptr, path.c_str());
    int i = 0;
    for (auto _ : state)
        cQV_Log::Log(log, 1, "bench.cpp", 42, "record %d of the benchmark, %s", ++i, "some text");
    delete log;
    state.SetItemsProcessed(state.iterations());
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

#if defined(QV_BENCH_HAVE_SPDLOG)
void PeerLog(benchmark::State &state) {
    const std::string path = BenchFile("qv_log_bench_peer.log");
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, true);
    spdlog::logger logger("peer", sink);
    // The same three lines and blank line as our records (the end of line adds the last LF).
    logger.set_pattern("%a %b %d %H:%M:%S %Y\n [%t] LEVEL:%l FILE:%s[%#]\n MSG:%v\n");
    logger.set_level(spdlog::level::trace);
    logger.flush_on(spdlog::level::trace);
    const spdlog::source_loc where{"bench.cpp", 42, "PeerLog"};
    int i = 0;
    for (auto _ : state)
        logger.log(where, spdlog::level::info, "record {} of the benchmark, {}", ++i, "some text");
    state.SetItemsProcessed(state.iterations());
    std::error_code ec;
    std::filesystem::remove(path, ec);
}
#endif

#if defined(QV_BENCH_HAVE_SPDLOG)
QV_BENCH_ROW(log, "log records/s to a file, flush each (vs spdlog flush_on(trace))", ">= 1x rate",
             OursLog, PeerLog);
#else
QV_BENCH_ROW(log, "log records/s to a file, flush each (spdlog not installed)", ">= 1x rate",
             OursLog, nullptr);
#endif

} // namespace
