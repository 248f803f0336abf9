// Log files (module "oslog"): records with a time stamp, the writing thread, a numeric level, a
// source file and line, and a message, written to a file, a caller's stream or standard output.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "qv_os_export.h"
#include "qv_string.h"

namespace Quorvel {

class cQV_Error;

// A record reads (the layout is part of the interface; the first line is the asctime text of
// osGetLocalTimeStr, the thread is osGetCurrentThreadId in upper-case hexadecimal):
//   Thu Dec 10 04:09:03 2026
//    [1A2B] LEVEL:2 FILE:main.cpp[42]
//    MSG:the message
//   (an empty line)
// A record of level L is written when L <= the output level (initially 2). With a maximum size
// (0 = none), a record is written only while the file is shorter than the maximum; the first
// record refused writes instead the one line notice
//    "... MSG:Maximum length [<max>] bytes of log file has been reached" and later ones are
// dropped until SetMaxSize is called again; a notice the system refused to store (a full disk)
// counts as not written and is tried again with the next record. Every record is flushed at once
// (standard output is neither limited nor flushed). Write failures are not reported. Writers are
// serialised by the log's own critical section. Logs are made by Create and released with delete;
// they cannot be copied.
class QV_OS_API cQV_Log {
public:
    // A log that writes to stream (a FILE * the caller owns and the log never closes); null
    // means standard output. On allocation failure: code 7 "Failed to allocate %d bytes", null.
    static cQV_Log *Create(cQV_Error *error, void *stream);
    // A log that owns the file fileName, opened for appending (created when missing) and not
    // inherited by child processes. The file is a text stream: on Windows each line feed is
    // stored as CR LF. An empty or null name, or a file that cannot be opened,
    // gives a log on standard output; this is not reported. Allocation failure as above.
    static cQV_Log *Create(cQV_Error *error, const char *fileName);
    // Create(error, nullptr): a log on standard output.
    static cQV_Log *Create(cQV_Error *error, std::nullptr_t);
    // The log file <dir>/<subDir>/[<prefix>_]<name>[_<suffix>].log. The folder is made with its
    // missing parents; when that fails, null with the folder creation's message in error.
    static cQV_Log *Create(cQV_Error *error, const char *dir, const char *subDir,
                           const char *prefix, const char *name, const char *suffix);

    // Closes the file the log owns (a caller's stream stays open) and destroys the lock.
    virtual ~cQV_Log();

    cQV_Log(const cQV_Log &) = delete;
    cQV_Log &operator=(const cQV_Log &) = delete;

    // A record with the message format applied to the arguments. A null log does nothing; a
    // null file is written as "unknown".
    static void Log(cQV_Log *log, int level, const char *file, int line, const char *format, ...)
        QV_OS_PRINTF(5, 6);
    // Log with the arguments in a va_list, which the caller starts and ends.
    static void LogV(cQV_Log *log, int level, const char *file, int line, const char *format,
                     va_list args);
    // A record from an error record: its file, line and text.
    static void Log(cQV_Log *log, int level, const cQV_Error &error);
    // True when log is not null and level <= its output level. Takes no lock.
    static bool IsLog(cQV_Log *log, int level);

    // The output level: records of a higher level are not written.
    int GetOutputLevel();
    void SetOutputLevel(int level);
    // The maximum size in bytes (0 = no limit).
    int GetMaxSize();
    // Sets the maximum size (0 = no limit) and allows one more notice.
    void SetMaxSize(int size);

private:
    explicit cQV_Log(void *stream);
    explicit cQV_Log(const char *fileName);

    void _Write(int level, const char *file, int line, const char *format, va_list *args,
                const char *text);

    void *_section = nullptr;
    cQV_String _fileName;
    std::FILE *_stream = nullptr;
    // Written under the lock; IsLog reads it without one, so it is atomic (relaxed).
    std::atomic<int> _outputLevel{2};
    int _maxSize = 0;
    bool _noticeWritten = false;
    // The time text of the last record and the clock second it was made in: records of the same
    // second reuse it instead of converting the time again.
    unsigned _stampSecond = 0;
    cQV_String _stamp;
};

} // namespace Quorvel
