// Log file primitives on Windows.
#include "log_os.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace Quorvel::detail {

std::FILE *PlatformOpenLogFile(const char *name) {
    // Append-only data access (no FILE_WRITE_DATA): the system puts every write at the end of the
    // file in one step, so processes that share the log cannot write at one offset and lose each
    // other's records; the runtime's append mode alone seeks to the end and then writes. Others
    // may read, write, rename or delete the file while it is open. The handle is created not
    // inheritable, so child processes do not keep the log open. Read access is there for the
    // record lock (PlatformLockLogFile), which the system grants only on a handle that may read or
    // write data.
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    HANDLE h =
        CreateFileA(name, FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &security, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    // Checked, not assumed: the runtime must not be what decides inheritance.
    if (!SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0)) {
        CloseHandle(h);
        return nullptr;
    }
    // Text mode, as the records have always been written on Windows (line feeds as CR LF).
    const int fd =
        _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_TEXT | _O_NOINHERIT);
    if (fd == -1) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE *stream = _fdopen(fd, "a");
    if (!stream) _close(fd); // closes the handle too
    return stream;
}

namespace {

// A byte far past any real end of file: locking it blocks no reader or writer of the data, only
// the other writers of records, which take the same lock.
constexpr DWORD kRecordLockHigh = 0x40000000;

OVERLAPPED RecordLockRange() {
    OVERLAPPED range = {};
    range.OffsetHigh = kRecordLockHigh;
    return range;
}

HANDLE StreamHandle(std::FILE *stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

} // namespace

// The append-only access puts each write at the end, but not every system makes that one step
// between processes (an emulated file system may read the size and then write), and a record
// that outgrows the stream's buffer takes more than one write. The lock, taken by every writer
// of the file, keeps each record whole in either case. A stream that takes no lock (a pipe, a
// console) is written without.
bool PlatformLockLogFile(std::FILE *stream) {
    HANDLE h = StreamHandle(stream);
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return false;
    OVERLAPPED range = RecordLockRange();
    return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range) != FALSE;
}

void PlatformUnlockLogFile(std::FILE *stream) {
    OVERLAPPED range = RecordLockRange();
    UnlockFileEx(StreamHandle(stream), 0, 1, 0, &range);
}

long long PlatformStreamFileLength(std::FILE *stream) {
    struct _stati64 st;
    if (_fstati64(_fileno(stream), &st) == 0 && (st.st_mode & _S_IFREG)) return st.st_size;
    return -1;
}

long long PlatformStreamPosition(std::FILE *stream) {
    return _ftelli64(stream);
}

} // namespace Quorvel::detail
