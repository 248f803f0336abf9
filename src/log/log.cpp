// Log files: record layout, level filter, size limit and the serialised writers.
#include "qv_log.h"
#include "error_codes.h"

#include <cstdio>
#include <new>

#include "log_os.h"
#include "qv_error.h"
#include "qv_event.h"
#include "qv_file.h"
#include "qv_path.h"
#include "qv_thread.h"
#include "qv_time.h"

namespace Quorvel {

namespace {

const char kModule[] = "oslog";

// The length of the file behind stream, or the stream's position when that is larger (output
// still buffered). Append streams report position 0 until their first write, so the position
// alone would let a log that is reopened on a long file grow past its limit. -1 when the stream
// has neither (a pipe or a terminal).
long long StreamSize(std::FILE *stream) {
    const long long length = detail::PlatformStreamFileLength(stream);
    const long long position = detail::PlatformStreamPosition(stream);
    return position > length ? position : length;
}

// The record header and the size notice are part of the interface: readers of log files parse
// them. The time text ends with its own line feed, so the time stands on a line of its own.
#define QV_LOG_HEADER "%s [%X] LEVEL:%s FILE:%s[%d]\n MSG:"
#define QV_LOG_NOTICE QV_LOG_HEADER "Maximum length [%d] bytes of log file has been reached\n"

// Writes v in base 10 or 16 (upper case) to out. Every record carries two numbers; writing them
// by hand spares a format parse per record.
void PutNumber(std::FILE *out, long long v, unsigned base) {
    char text[24];
    char *p = text + sizeof text;
    unsigned long long u =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
        *--p = "0123456789ABCDEF"[u % base];
        u /= base;
    } while (u);
    if (v < 0) *--p = '-';
    std::fwrite(p, 1, static_cast<size_t>(text + sizeof text - p), out);
}

// The record header, byte for byte what QV_LOG_HEADER gives, written straight into out.
void PutHeader(std::FILE *out, const char *time, unsigned thread, const char *level,
               const char *file, int line) {
    std::fputs(time, out);
    std::fputs(" [", out);
    PutNumber(out, thread, 16);
    std::fputs("] LEVEL:", out);
    std::fputs(level, out);
    std::fputs(" FILE:", out);
    std::fputs(file, out);
    std::fputc('[', out);
    PutNumber(out, line, 10);
    std::fputs("]\n MSG:", out);
}

} // namespace

cQV_Log::cQV_Log(void *stream) : _stream(static_cast<std::FILE *>(stream)) {
    // Without a critical section the log still works, unlocked.
    osCreateCriticalSection(nullptr, _section);
}

cQV_Log::cQV_Log(const char *fileName) : _fileName(fileName) {
    osCreateCriticalSection(nullptr, _section);
    if (_fileName.Length() > 0) _stream = detail::PlatformOpenLogFile(_fileName);
}

cQV_Log::~cQV_Log() {
    if (_fileName.Length() > 0 && _stream) std::fclose(_stream);
    osDestroyCriticalSection(_section);
}

cQV_Log *cQV_Log::Create(cQV_Error *error, void *stream) {
    cQV_Log *log = new (std::nothrow) cQV_Log(stream);
    if (!log)
        QV_FAIL(error, detail::kErrMemory, "Failed to allocate %d bytes",
                static_cast<int>(sizeof(cQV_Log)));
    return log;
}

cQV_Log *cQV_Log::Create(cQV_Error *error, const char *fileName) {
    cQV_Log *log = new (std::nothrow) cQV_Log(fileName);
    if (!log)
        QV_FAIL(error, detail::kErrMemory, "Failed to allocate %d bytes",
                static_cast<int>(sizeof(cQV_Log)));
    return log;
}

cQV_Log *cQV_Log::Create(cQV_Error *error, std::nullptr_t) {
    return Create(error, static_cast<void *>(nullptr));
}

cQV_Log *cQV_Log::Create(cQV_Error *error, const char *dir, const char *subDir, const char *prefix,
                         const char *name, const char *suffix) {
    cQV_String folder(dir);
    osEnsureTrailingSlash(folder);
    folder += subDir;
    osCreateDirectory(error, folder, true);
    if (!osIsDirectory(folder)) return nullptr;

    cQV_String fileName(folder);
    osEnsureTrailingSlash(fileName);
    if (prefix && *prefix) {
        fileName += prefix;
        fileName += "_";
    }
    fileName += name;
    if (suffix && *suffix) {
        fileName += "_";
        fileName += suffix;
    }
    fileName += ".log";
    return Create(error, static_cast<const char *>(fileName));
}

void cQV_Log::Log(cQV_Log *log, int level, const char *file, int line, const char *format, ...) {
    if (!log) return;
    va_list args;
    va_start(args, format);
    LogV(log, level, file, line, format, args);
    va_end(args);
}

void cQV_Log::LogV(cQV_Log *log, int level, const char *file, int line, const char *format,
                   va_list args) {
    if (!log) return;
    va_list copy;
    va_copy(copy, args);
    log->_Write(level, file ? file : "unknown", line, format ? format : "", &copy, nullptr);
    va_end(copy);
}

void cQV_Log::Log(cQV_Log *log, int level, const cQV_Error &error) {
    if (!log) return;
    log->_Write(level, error.file, error.line, nullptr, nullptr, error.text);
}

bool cQV_Log::IsLog(cQV_Log *log, int level) {
    return log && level <= log->_outputLevel.load(std::memory_order_relaxed);
}

int cQV_Log::GetOutputLevel() {
    osEnterCriticalSection(_section);
    const int level = _outputLevel.load(std::memory_order_relaxed);
    osLeaveCriticalSection(_section);
    return level;
}

void cQV_Log::SetOutputLevel(int level) {
    osEnterCriticalSection(_section);
    _outputLevel.store(level, std::memory_order_relaxed);
    osLeaveCriticalSection(_section);
}

int cQV_Log::GetMaxSize() {
    osEnterCriticalSection(_section);
    const int size = _maxSize;
    osLeaveCriticalSection(_section);
    return size;
}

void cQV_Log::SetMaxSize(int size) {
    osEnterCriticalSection(_section);
    _maxSize = size;
    _noticeWritten = false;
    osLeaveCriticalSection(_section);
}

// Writes one record: the message is format applied to *args, or text when args is null. The
// parts go straight into the stream; the whole record is written under the log's lock, so
// records of different threads never interleave.
void cQV_Log::_Write(int level, const char *file, int line, const char *format, va_list *args,
                     const char *text) {
    osEnterCriticalSection(_section);
    if (level <= _outputLevel.load(std::memory_order_relaxed)) {
        char levelText[16];
        std::snprintf(levelText, sizeof levelText, "%d", level);
        const unsigned second = osGetSysTime();
        if (second != _stampSecond || _stamp.Length() == 0) {
            _stamp = osGetLocalTimeStr();
            _stampSecond = second;
        }
        const char *time = _stamp;
        const unsigned thread = osGetCurrentThreadId();
        // Other processes writing the same file wait until this record is whole; the size check
        // then sees their records too.
        const bool fileLocked = _stream && detail::PlatformLockLogFile(_stream);
        if (!_stream) {
            // Standard output: no size limit and no flush.
            PutHeader(stdout, time, thread, levelText, file, line);
            if (args)
                std::vprintf(format, *args);
            else
                std::fputs(text, stdout);
            std::fputs("\n\n", stdout);
        } else if (_maxSize == 0 || StreamSize(_stream) < _maxSize) {
            PutHeader(_stream, time, thread, levelText, file, line);
            if (args)
                std::vfprintf(_stream, format, *args);
            else
                std::fputs(text, _stream);
            std::fputs("\n\n", _stream);
            std::fflush(_stream);
        } else if (!_noticeWritten) {
            // Only a notice the system took counts as written: one refused (a full disk) is
            // tried again with the next record.
            const bool stored = std::fprintf(_stream, QV_LOG_NOTICE, time, thread, levelText, file,
                                             line, _maxSize) > 0;
            _noticeWritten = std::fflush(_stream) == 0 && stored;
        }
        if (fileLocked) detail::PlatformUnlockLogFile(_stream);
    }
    osLeaveCriticalSection(_section);
}

} // namespace Quorvel
