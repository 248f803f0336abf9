// File-system primitives over Win32 and the C runtime. A file handle is the
// system's HANDLE.
#include "entry_kind.h"
#include "filetime.h"
#include "io_os.h"
#include "io_save.h"
#include "string_util.h"

#include <windows.h>
#include <sddl.h>
#include <winioctl.h>
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

// ---- Saving a file ----

const int kIoTextEnd = 0x1A;
const char kIoLineEnd[] = "\r\n";

namespace {

// The folder part of `path` with its final separator, or "" for a bare name.
cQV_String folderOf(const char *path) {
    const char *cut = nullptr;
    for (const char *p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || (*p == ':' && p == path + 1)) cut = p;
    cQV_String dir;
    if (!cut) return dir;
    detail::AssignBytes(dir, path, size_t(cut - path) + 1);
    return dir;
}

bool isAbsolute(const char *p) {
    return p[0] == '\\' || p[0] == '/' || (p[0] && p[1] == ':');
}

// Where the symbolic link `path` points, as written in the link (relative to its folder or
// absolute). False for a reparse point that is no symbolic link, or one that cannot be read.
bool readSymbolicLink(const char *path, cQV_String &target) {
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // The symbolic-link form of the system's reparse data (its header lives in the driver
    // kit's headers).
    struct tSymbolicLinkData {
        DWORD ReparseTag;
        WORD ReparseDataLength;
        WORD Reserved;
        struct {
            WORD SubstituteNameOffset;
            WORD SubstituteNameLength;
            WORD PrintNameOffset;
            WORD PrintNameLength;
            ULONG Flags;
            WCHAR PathBuffer[1];
        } SymbolicLinkReparseBuffer;
    };
    union {
        tSymbolicLinkData data;
        unsigned char bytes[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
    } buf;
    DWORD got = 0;
    BOOL ok =
        DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, nullptr, 0, &buf, sizeof buf, &got, nullptr);
    CloseHandle(h);
    if (!ok || buf.data.ReparseTag != IO_REPARSE_TAG_SYMLINK) return false;
    const auto &link = buf.data.SymbolicLinkReparseBuffer;
    const WCHAR *names = link.PathBuffer;
    const WCHAR *name = names + link.PrintNameOffset / sizeof(WCHAR);
    int len = link.PrintNameLength / sizeof(WCHAR);
    if (len == 0) {
        name = names + link.SubstituteNameOffset / sizeof(WCHAR);
        len = link.SubstituteNameLength / sizeof(WCHAR);
        if (len >= 4 && name[0] == L'\\' && name[1] == L'?' && name[2] == L'?' &&
            name[3] == L'\\') {
            name += 4;
            len -= 4;
        }
    }
    if (len <= 0) return false;
    int n = WideCharToMultiByte(CP_ACP, 0, name, len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    char *out = target.GetBuffer(unsigned(n));
    if (!out) return false;
    WideCharToMultiByte(CP_ACP, 0, name, len, out, n, nullptr, nullptr);
    out[n] = 0;
    return true;
}

// The attributes a replacing file carries over from the file it replaces.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A security descriptor that lets only the calling user open the file; null if none can be
// had. Released with LocalFree.
PSECURITY_DESCRIPTOR ownerOnly() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    union {
        TOKEN_USER user;
        unsigned char bytes[256];
    } info;
    DWORD got = 0;
    BOOL ok = GetTokenInformation(token, TokenUser, &info, sizeof info, &got);
    CloseHandle(token);
    char *sid = nullptr;
    if (!ok || !ConvertSidToStringSidA(info.user.User.Sid, &sid)) return nullptr;
    char sddl[256];
    snprintf(sddl, sizeof sddl, "D:P(A;;FA;;;%s)", sid);
    LocalFree(sid);
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr))
        return nullptr;
    return sd;
}

bool isBusy(DWORD e) {
    return e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION ||
           e == ERROR_UNABLE_TO_REMOVE_REPLACED || e == ERROR_ACCESS_DENIED;
}

} // namespace

bool PlatformSaveTarget(const char *path, tIoSaveTarget &t) {
    t = tIoSaveTarget();
    cQV_String cur(path);
    // At most as many links as the system itself follows; more is a loop.
    for (int hops = 0; hops <= 31; ++hops) {
        DWORD attr = GetFileAttributesA(cur);
        cQV_String next;
        if (attr == INVALID_FILE_ATTRIBUTES) {
            DWORD e = GetLastError();
            if (e != ERROR_FILE_NOT_FOUND) return false;
            // Some systems report a dangling link as missing; the link itself can still be read.
            if (readSymbolicLink(cur, next)) {
                cur = isAbsolute(next) ? next : folderOf(cur) + next;
                continue;
            }
            t.path = cur;
            t.kind = IoSaveKind::Missing;
            // A device name ("NUL", "COM1") has no attributes but opens.
            HANDLE h = CreateFileA(cur, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                if (GetFileType(h) != FILE_TYPE_DISK) t.kind = IoSaveKind::Special;
                CloseHandle(h);
            }
            return true;
        }
        if ((attr & FILE_ATTRIBUTE_REPARSE_POINT) && readSymbolicLink(cur, next)) {
            cur = isAbsolute(next) ? next : folderOf(cur) + next;
            continue;
        }
        t.path = cur;
        t.mode = attr;
        if (attr & FILE_ATTRIBUTE_DIRECTORY) {
            t.kind = IoSaveKind::Directory;
            return true;
        }
        t.kind = IoSaveKind::Regular;
        // The right to write the file itself, not only to delete it in its folder.
        HANDLE h =
            CreateFileA(cur, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            DWORD e = GetLastError();
            // Held by another process: the right to write cannot be seen now; the replace
            // step finds out.
            if (e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION) return true;
            t.mayWrite = false;
            SetLastError(e);
            return true;
        }
        if (GetFileType(h) != FILE_TYPE_DISK) {
            t.kind = IoSaveKind::Special;
        } else {
            BY_HANDLE_FILE_INFORMATION info;
            if (GetFileInformationByHandle(h, &info)) t.links = info.nNumberOfLinks;
        }
        CloseHandle(h);
        return true;
    }
    SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return false;
}

void *PlatformSaveCreateTemp(const tIoSaveTarget &t, const char *temp, bool &taken) {
    taken = false;
    // An existing file's text is private until the replace gives the new file the old one's
    // security: only its owner may open the temporary file. A new file gets what any new file
    // in the folder gets.
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, FALSE};
    PSECURITY_DESCRIPTOR sd = t.kind == IoSaveKind::Regular ? ownerOnly() : nullptr;
    sa.lpSecurityDescriptor = sd;
    DWORD attrs = t.kind == IoSaveKind::Regular ? (t.mode & kKeptAttributes) : 0;
    HANDLE h = CreateFileA(temp, GENERIC_READ | GENERIC_WRITE | READ_CONTROL | WRITE_DAC, 0, &sa,
                           CREATE_NEW, attrs ? attrs : FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD e = GetLastError();
    if (sd) LocalFree(sd);
    if (h == INVALID_HANDLE_VALUE) {
        taken = e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS;
        SetLastError(e);
    }
    return h;
}

void *PlatformSaveOpenInPlace(const tIoSaveTarget &t) {
    HANDLE h =
        CreateFileA(t.path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    if (GetFileType(h) == FILE_TYPE_DISK && !SetEndOfFile(h)) {
        DWORD e = GetLastError();
        CloseHandle(h);
        SetLastError(e);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

IoReplace PlatformSaveReplace(void *file, const char *temp, const tIoSaveTarget &t) {
    if (t.kind == IoSaveKind::Regular) {
        // The temporary file takes the file's own access list before it takes its place (the
        // replace keeps it too, where the system does that).
        DWORD need = 0;
        GetFileSecurityA(t.path, DACL_SECURITY_INFORMATION, nullptr, 0, &need);
        unsigned char *sd = need ? new (std::nothrow) unsigned char[need] : nullptr;
        if (sd && GetFileSecurityA(t.path, DACL_SECURITY_INFORMATION, sd, need, &need))
            SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, sd);
        delete[] sd;
    }
    bool ok = FlushFileBuffers(file) != FALSE;
    ok = CloseHandle(file) != FALSE && ok;
    if (!ok) return IoReplace::Failed;
    if (t.kind == IoSaveKind::Missing) {
        if (MoveFileExA(temp, t.path, MOVEFILE_WRITE_THROUGH)) return IoReplace::Done;
        DWORD e = GetLastError();
        if (e != ERROR_ALREADY_EXISTS && e != ERROR_FILE_EXISTS) return IoReplace::Failed;
    }
    // The system's replace keeps the file's security descriptor, attributes, encryption and
    // alternate streams, which a rename over it would drop.
    for (int attempt = 1;; ++attempt) {
        // A file held open without delete sharing cannot be replaced; that is seen first, so
        // that a failing replace leaves nothing of its own behind.
        HANDLE probe =
            CreateFileA(t.path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD e = GetLastError();
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
            if (ReplaceFileA(t.path, temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                             nullptr))
                return IoReplace::Done;
            e = GetLastError();
        }
        if (e == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
            // The old file is gone and the new one still has its temporary name.
            return MoveFileExA(temp, t.path, MOVEFILE_WRITE_THROUGH) ? IoReplace::Done
                                                                     : IoReplace::Failed;
        }
        if (!isBusy(e)) return IoReplace::Failed;
        int delay = SaveRetryDelay(attempt);
        if (delay < 0) return IoReplace::Busy;
        Sleep(DWORD(delay));
    }
}

bool PlatformSaveFinishInPlace(void *file, const tIoSaveTarget &) {
    bool ok = FlushFileBuffers(file) != FALSE || GetFileType(file) != FILE_TYPE_DISK;
    return CloseHandle(file) != FALSE && ok;
}

// ---- Advisory locks ----

void *PlatformLockFile(const char *path, unsigned waitMs) {
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    for (unsigned waited = 0;; waited += 5) {
        OVERLAPPED ov = {};
        if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov))
            return h;
        DWORD e = GetLastError();
        if (e != ERROR_LOCK_VIOLATION || waited >= waitMs) {
            CloseHandle(h);
            SetLastError(e);
            return nullptr;
        }
        Sleep(5);
    }
}

void PlatformUnlockFile(void *lock) {
    if (!lock) return;
    OVERLAPPED ov = {};
    UnlockFileEx(lock, 0, 1, 0, &ov);
    CloseHandle(lock);
}

} // namespace Quorvel::detail
