// Child program for the log tests: one of several processes appending to one log file.
//   qv_log_writer LOG TAG COUNT READY GO
// Creates the file READY, waits (at most 30 s) until the file GO exists, so that the writers start
// together, then writes COUNT records "TAG record N <payload>" to the log LOG. Exits 0 when all
// were handed to the log, 2 on bad arguments, 3 when GO never appeared, 4 when the log failed.
#include "qv_log.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char **argv) {
    if (argc != 6) return 2;
    const char *logPath = argv[1];
    const std::string tag = argv[2];
    const int count = std::atoi(argv[3]);
    Quorvel::cQV_Log *log = Quorvel::cQV_Log::Create(nullptr, logPath);
    if (!log) return 4;
    std::ofstream(argv[4]).put('1');
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(argv[5])) {
        if (std::chrono::steady_clock::now() > deadline) return 3;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::string payload(100, tag[0]);
    for (int r = 0; r < count; ++r)
        Quorvel::cQV_Log::Log(log, 1, "writer.cpp", r, "%s record %d %s", tag.c_str(), r,
                              payload.c_str());
    delete log;
    return 0;
}
