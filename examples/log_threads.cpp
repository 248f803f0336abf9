// A levelled log written from several threads.
//
//   log_threads FOLDER    writes FOLDER/example/demo_log.log from four threads and prints its size
//
// Each record carries the time, the writing thread's id, the level and the source line; the log's
// own lock keeps the records of different threads whole. Records above the output level are not
// written, and a size limit stops the file from growing without bound.
#include <qv_os.h>

#include <cstdint>
#include <cstdio>

using namespace Quorvel;

namespace {

cQV_Log *gLog = nullptr;

unsigned Worker(void *arg) {
    const int index = static_cast<int>(reinterpret_cast<std::intptr_t>(arg));
    for (int i = 0; i < 50; ++i) {
        cQV_Log::Log(gLog, 1, __FILE__, __LINE__, "worker %d, record %d", index, i);
        // Level 3 is above the output level set below: these are dropped without formatting.
        if (cQV_Log::IsLog(gLog, 3))
            cQV_Log::Log(gLog, 3, __FILE__, __LINE__, "detail %d/%d", index, i);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: log_threads FOLDER\n");
        return 2;
    }
    cQV_Error error;
    // FOLDER/example/demo_log.log, the folders made as needed.
    gLog = cQV_Log::Create(&error, argv[1], "example", "demo", "log", nullptr);
    if (!gLog) {
        std::fprintf(stderr, "cannot create the log: %s\n", (const char *)error.text);
        return 1;
    }
    gLog->SetOutputLevel(2);
    gLog->SetMaxSize(1 << 20);

    void *threads[4] = {};
    for (int i = 0; i < 4; ++i) {
        threads[i] =
            osCreateThread(&error, Worker, reinterpret_cast<void *>(std::intptr_t(i)), nullptr);
        if (!threads[i]) {
            std::fprintf(stderr, "cannot start a thread: %s\n", (const char *)error.text);
            return 1;
        }
    }
    for (void *&t : threads)
        osCloseThread(t);

    cQV_Log::Log(gLog, 0, __FILE__, __LINE__, "all workers done");
    delete gLog;

    cQV_String path(argv[1]);
    path += "/example/demo_log.log";
    cQV_String text;
    if (!osReadFileTxt(&error, path, text, 1 << 22)) {
        std::fprintf(stderr, "cannot read the log back: %s\n", (const char *)error.text);
        return 1;
    }
    std::printf("%s: %u bytes\n", (const char *)path, text.Length());
    return 0;
}
