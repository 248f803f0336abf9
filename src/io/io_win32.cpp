// File-system primitives over Win32 and the C runtime. A file handle is the
// system's HANDLE.
#include "entry_kind.h"
#include "filetime.h"
#include "io_os.h"

#include <windows.h>
#include <winnetwk.h>

#include <conio.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace Quorvel::detail {

const char kIoDirSep = '\\';
const int kIoBadNameError = ERROR_INVALID_NAME;

// ---- File handles ----

void *PlatformFileOpen(const char *name, int mode, int share) {
    DWORD access = 0;
    if (mode & eFileOpenRead) access |= GENERIC_READ;
    if (mode & eFileOpenWrite) access |= GENERIC_WRITE;
    DWORD shareMode = 0;
    if (share & eFileShareRead) shareMode |= FILE_SHARE_READ;
    if (share & eFileShareWrite) shareMode |= FILE_SHARE_WRITE;
    // No security attributes: the handle is not inheritable, so children never get it.
    HANDLE h = CreateFileA(name, access, shareMode, nullptr,
                           (mode & eFileOpenCreate) ? CREATE_ALWAYS : OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h;
}

void PlatformFileClose(void *handle) {
    CloseHandle(handle);
}

bool PlatformFileRead(void *handle, unsigned char *buffer, unsigned int count, unsigned int &read) {
    DWORD n = 0;
    if (!ReadFile(handle, buffer, count, &n, nullptr)) return false;
    read = n;
    return true;
}

bool PlatformFileWrite(void *handle, const unsigned char *buffer, unsigned int count,
                       unsigned int &written) {
    DWORD n = 0;
    BOOL ok = WriteFile(handle, buffer, count, &n, nullptr);
    written = n;
    return ok != FALSE;
}

bool PlatformFileFlush(void *handle) {
    return FlushFileBuffers(handle) != FALSE;
}

long long PlatformFileSeek(void *handle, long long offset, eQV_FileSeek origin) {
    LARGE_INTEGER move, pos;
    move.QuadPart = offset;
    DWORD method = origin == eFileSeekEnd       ? FILE_END
                   : origin == eFileSeekCurrent ? FILE_CURRENT
                                                : FILE_BEGIN;
    if (!SetFilePointerEx(handle, move, &pos, method)) return -1;
    return pos.QuadPart;
}

// ---- Entries ----

namespace {

static_assert(kIoAttrInvalid == INVALID_FILE_ATTRIBUTES);
static_assert(kIoAttrDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kIoAttrReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);
static_assert(IsReparseTagNameSurrogate(kIoTagNameSurrogate));
static_assert(IsReparseTagNameSurrogate(IO_REPARSE_TAG_SYMLINK) &&
              IsReparseTagNameSurrogate(IO_REPARSE_TAG_MOUNT_POINT));

// The reparse tag of the entry itself, read through a handle on the reparse point (not on what it
// points to). Opening for no data access needs only the right to read the entry's attributes,
// not the right to list its folder; backup semantics lets the handle name a folder.
bool ReadReparseTag(const char *path, uint32_t &tag) {
    HANDLE h = CreateFileA(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILE_ATTRIBUTE_TAG_INFO info;
    const BOOL ok = GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info);
    const DWORD err = GetLastError();
    CloseHandle(h);
    SetLastError(err);
    if (!ok || !(info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    tag = info.ReparseTag;
    return true;
}

} // namespace

IoEntry PlatformEntryFollow(const char *path) {
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return IoEntry::Missing;
    return (a & FILE_ATTRIBUTE_DIRECTORY) ? IoEntry::Directory : IoEntry::File;
}

IoEntry PlatformEntryNoFollow(const char *path) {
    const DWORD a = GetFileAttributesA(path);
    uint32_t tag = 0;
    const bool tagRead = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) &&
                         ReadReparseTag(path, tag);
    return IoClassifyEntry(a, tagRead, tag);
}

bool PlatformCreateDirectory(const char *path) {
    return CreateDirectoryA(path, nullptr) != FALSE;
}
bool PlatformRemoveDirectory(const char *path) {
    return RemoveDirectoryA(path) != FALSE;
}
bool PlatformDeleteFile(const char *path) {
    return DeleteFileA(path) != FALSE;
}

bool PlatformRemoveLink(const char *path, bool &dirLink) {
    // A directory link or junction goes with RemoveDirectoryA, which removes the
    // link and leaves its target alone; a file link with DeleteFileA.
    DWORD a = GetFileAttributesA(path);
    dirLink = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    return dirLink ? RemoveDirectoryA(path) != FALSE : DeleteFileA(path) != FALSE;
}

// ---- Directory search ----

void *PlatformFindFirst(const char *search, cQV_String &name) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(search, &data);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    name = data.cFileName;
    return h;
}

bool PlatformFindNext(void *search, cQV_String &name) {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(search, &data)) return false;
    name = data.cFileName;
    return true;
}

void PlatformFindClose(void *search) {
    FindClose(search);
}

// ---- File times ----
// Read and set on the file itself in UTC: the runtime's stat and utime calls convert through local
// time with today's daylight-saving bias, and its utime cannot open a folder.

bool PlatformGetFileTime(const char *path, unsigned int &time) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
    // The count is 32 bits wide; it keeps the low bits of the seconds, as the runtime's 32-bit
    // time does.
    time = static_cast<unsigned int>(FileTimeToUnixSeconds(ticks));
    return true;
}

bool PlatformSetFileTime(const char *path, unsigned int time) {
    uint64_t ticks = 0;
    if (!UnixSecondsToFileTime(time, ticks)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    // Attribute writing is all that setting times needs; backup semantics lets the handle name a
    // folder. Sharing everything keeps the call from failing on a file that others hold open.
    HANDLE h = CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = SetFileTime(h, nullptr, &ft, &ft);
    const DWORD err = GetLastError();
    CloseHandle(h);
    if (!ok) SetLastError(err);
    return ok != FALSE;
}

// ---- Environment and folders ----

bool PlatformSetEnv(const char *name, const char *value) {
    cQV_String text(name);
    text += "=";
    text += value;
    return _putenv(text) == 0;
}

bool PlatformGetTempDir(cQV_String &dir) {
    DWORD n = GetTempPathA(0, nullptr);
    if (n == 0) return false;
    cQV_String result;
    char *buf = result.GetBuffer(n);
    if (!buf) return false;
    DWORD got = GetTempPathA(n + 1, buf);
    if (got == 0 || got > n) return false;
    buf[got] = 0;
    dir = result;
    return true;
}

const char *PlatformTempDirFallback() {
    return "C:\\";
}

// ---- Drive mapping ----

bool PlatformDriveSubstitute(const char *drive, cQV_String &target) {
    char buf[128];
    buf[0] = 0;
    QueryDosDeviceA(drive, buf, sizeof buf); // an unknown device leaves the text empty
    buf[sizeof buf - 1] = 0;
    target = buf;
    return true;
}

cQV_String PlatformFullPath(const char *path) {
    char small[256];
    small[0] = 0;
    DWORD n = GetFullPathNameA(path, sizeof small, small, nullptr);
    if (n == 0) return cQV_String();
    if (n < sizeof small) return cQV_String(small);
    // The answer is the size needed, terminating NUL included.
    cQV_String result;
    char *buf = result.GetBuffer(n);
    if (!buf) return cQV_String();
    buf[0] = 0;
    DWORD got = GetFullPathNameA(path, n, buf, nullptr);
    if (got == 0 || got >= n) return cQV_String();
    return result;
}

int PlatformUniversalName(const char *fullPath, cQV_String &universal) {
    DWORD size = 256;
    char small[256];
    char *buf = small;
    char *heap = nullptr;
    DWORD r = WNetGetUniversalNameA(fullPath, UNIVERSAL_NAME_INFO_LEVEL, buf, &size);
    while (r == ERROR_MORE_DATA) {
        delete[] heap;
        heap = new (std::nothrow) char[size + 1];
        if (!heap) return ERROR_NOT_ENOUGH_MEMORY;
        buf = heap;
        r = WNetGetUniversalNameA(fullPath, UNIVERSAL_NAME_INFO_LEVEL, buf, &size);
    }
    if (r == NO_ERROR) {
        const char *name = reinterpret_cast<UNIVERSAL_NAME_INFOA *>(buf)->lpUniversalName;
        universal = name ? name : "";
    }
    delete[] heap;
    return static_cast<int>(r);
}

// ---- Console ----

void *PlatformConsoleOpen() {
    static int session;
    return &session; // the runtime's console calls need no preparation
}

bool PlatformConsoleKeyReady(void *) {
    return _kbhit() != 0;
}

int PlatformConsoleReadKey(void *) {
    int c = _getche();
    return c == EOF ? -1 : (c & 0xFF);
}

void PlatformConsoleClose(void *) {}

} // namespace Quorvel::detail
