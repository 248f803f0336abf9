// Raw file access through handles, line reading, directory search, file times and
// whole-file text reading. The system calls sit behind io_os.h.
#include "qv_file.h"
#include "error_codes.h"

#include <cstring>
#include <new>

#include "io_os.h"
#include "string_util.h"
#include "qv_path.h"

namespace Quorvel {

namespace {

void *const kInvalid = reinterpret_cast<void *>(-1);
const char kModule[] = "osio";

// osFileReadLine reads a small first chunk (most lines are short), then one of 4 KiB,
// then doubles up to kMaxChunk: a line of up to 4 KiB costs at most two reads and one
// move back, which returns the unused part of the last chunk to the file.
const unsigned kFirstChunk = 256;
const unsigned kSecondChunk = 4096;
const unsigned kMaxChunk = 64 * 1024;

} // namespace

cQV_FileInfo::cQV_FileInfo() : attributes(0), size(0) {}
cQV_FileInfo::cQV_FileInfo(const cQV_FileInfo &o)
    : attributes(o.attributes), size(o.size), name(o.name) {}
cQV_FileInfo &cQV_FileInfo::operator=(const cQV_FileInfo &o) {
    if (this != &o) {
        attributes = o.attributes;
        size = o.size;
        name = o.name;
    }
    return *this;
}
cQV_FileInfo::~cQV_FileInfo() {}

cQV_FolderInfo::cQV_FolderInfo() {}
cQV_FolderInfo::cQV_FolderInfo(const cQV_FolderInfo &o) : name(o.name) {}
cQV_FolderInfo &cQV_FolderInfo::operator=(const cQV_FolderInfo &o) {
    if (this != &o) name = o.name;
    return *this;
}
cQV_FolderInfo::~cQV_FolderInfo() {}

// ---- Handles -----------------------------------------------------------------

void *osFileOpen(const char *name, int mode, int share) {
    if (!name) return kInvalid;
    return detail::PlatformFileOpen(name, mode, share);
}

bool osFileClose(void *&handle) {
    if (handle == kInvalid) return false;
    detail::PlatformFileClose(handle);
    handle = kInvalid;
    return true;
}

bool osFileRead(void *handle, unsigned char *buffer, unsigned int count, unsigned int &read) {
    if (handle == kInvalid) return false;
    return detail::PlatformFileRead(handle, buffer, count, read);
}

bool osFileWrite(void *handle, const unsigned char *buffer, unsigned int count,
                 unsigned int &written) {
    if (handle == kInvalid) return false;
    return detail::PlatformFileWrite(handle, buffer, count, written);
}

bool osFlushFileBuffers(void *handle) {
    if (handle == kInvalid) return false;
    return detail::PlatformFileFlush(handle);
}

long long osFileSeek(void *handle, long long offset, eQV_FileSeek origin) {
    if (handle == kInvalid) return -1;
    // Any other value counts as the beginning.
    if (origin != eFileSeekEnd && origin != eFileSeekCurrent) origin = eFileSeekBegin;
    return detail::PlatformFileSeek(handle, offset, origin);
}

long long osFileTell(void *handle) {
    return osFileSeek(handle, 0, eFileSeekCurrent);
}

long long osFileSize(void *handle) {
    long long pos = osFileTell(handle);
    if (pos < 0) return -1;
    long long size = osFileSeek(handle, 0, eFileSeekEnd);
    if (size < 0) return -1;
    if (osFileSeek(handle, pos, eFileSeekBegin) < 0) return -1;
    return size;
}

bool osFileReadLine(void *handle, cQV_String &line, unsigned int maxLen) {
    if (handle == kInvalid) return false;
    unsigned remaining = maxLen ? maxLen : 65535;

    // The line is scanned into buf; the position is moved back relative to where
    // the reads left it, so the start position never has to be asked for.
    char stackBuf[kFirstChunk + kSecondChunk];
    char *buf = stackBuf;
    unsigned long long cap = sizeof stackBuf;
    unsigned long long total = 0; // bytes read so far
    unsigned long long length = 0;
    unsigned chunk = kFirstChunk;
    bool found = false, ok = true;
    for (;;) {
        unsigned want = chunk < remaining ? chunk : remaining;
        if (total + want > cap) {
            unsigned long long newCap = cap * 2 >= total + want ? cap * 2 : total + want;
            char *bigger = new (std::nothrow) char[newCap];
            if (!bigger) {
                ok = false;
                break;
            }
            memcpy(bigger, buf, total);
            if (buf != stackBuf) delete[] buf;
            buf = bigger;
            cap = newCap;
        }
        unsigned got = 0;
        if (!osFileRead(handle, reinterpret_cast<unsigned char *>(buf + total), want, got)) {
            ok = false;
            break;
        }
        if (got == 0) { // end of file: the line is what was read
            length = total;
            break;
        }
        const char *start = buf + total;
        for (unsigned i = 0; i < got; ++i) {
            if (start[i] == '\n' || start[i] == 0) {
                length = total + i + 1;
                found = true;
                break;
            }
        }
        total += got;
        if (found) break;
        remaining -= got;
        if (remaining == 0) { // the limit is reached without a line end
            ok = false;
            break;
        }
        chunk = chunk == kFirstChunk ? kSecondChunk : chunk < kMaxChunk ? chunk * 2 : chunk;
    }

    if (ok) {
        // The line's buffer is taken only now, so that a failure leaves it untouched.
        cQV_String result;
        if (length > 0) {
            char *text = result.GetBuffer(static_cast<unsigned>(length));
            if (!text) {
                ok = false;
            } else {
                memcpy(text, buf, length);
                text[length] = 0;
                // A lone line feed stays as it is; otherwise LF or CR LF is cut.
                if (length > 1 && text[length - 1] == '\n') {
                    text[length - 1] = 0;
                    if (text[length - 2] == '\r') text[length - 2] = 0;
                }
            }
        }
        if (ok && total > length &&
            osFileSeek(handle, -static_cast<long long>(total - length), eFileSeekCurrent) < 0) {
            line = "";
            ok = false;
        }
        if (ok) line = result;
    }
    if (!ok && total > 0) osFileSeek(handle, -static_cast<long long>(total), eFileSeekCurrent);
    if (buf != stackBuf) delete[] buf;
    return ok;
}

bool osFileIsExist(const char *path) {
    return path && detail::PlatformEntryNoFollow(path) != detail::IoEntry::Missing;
}

bool osIsDirectory(const char *path) {
    return path && detail::PlatformEntryFollow(path) == detail::IoEntry::Directory;
}

// ---- Directory search ----------------------------------------------------------

void *osFileFindFirst(const char *dir, const char *pattern, cQV_String &name) {
    cQV_String search(dir);
    osEnsureTrailingSlash(search);
    search += pattern;
    return detail::PlatformFindFirst(search, name);
}

bool osFileFindNext(void *search, cQV_String &name) {
    return search && detail::PlatformFindNext(search, name);
}

void osFileFindEnd(void *&search) {
    if (search) {
        detail::PlatformFindClose(search);
        search = nullptr;
    }
}

// ---- Directories and files --------------------------------------------------------

namespace {

// The create step of osCreateDirectory.
bool createOne(cQV_Error *error, const char *path) {
    bool made = detail::PlatformCreateDirectory(path);
    int code = osGetSysError();
    // Another creator (thread or process) may have made it since it was looked for.
    if (made || osIsDirectory(path)) {
        if (error) error->Reset();
        return true;
    }
    return QV_FAIL(error, detail::kErrFile, "Failed to create directory %s. %s", path,
                   (const char *)osGetSysErrorStr(code));
}

// Appends one "dir [%s] %s\n" or "file [%s] %s\n" line with the system's reason.
void appendFailure(cQV_String &msg, const char *kind, const char *path, int code) {
    cQV_String line;
    line.Format("%s [%s] %s\n", kind, path, (const char *)osGetSysErrorStr(code));
    msg += line;
}

} // namespace

bool osCreateDirectory(cQV_Error *error, const char *path, bool recursive) {
    if (!path) path = "";
    if (osIsDirectory(path)) return true;
    if (!path[0])
        return QV_FAIL(error, detail::kErrFile, "Directory with empty name can not be created");
    if (createOne(error, path)) return true;
    if (!recursive) return false;

    // The parent ends at the last separator that is not the path's last byte.
    int i = static_cast<int>(strlen(path)) - 1;
    while (i >= 0 && (path[i] == '\\' || path[i] == '/'))
        --i;
    while (i >= 0 && path[i] != '\\' && path[i] != '/')
        --i;
    if (i < 0) return QV_FAIL(error, detail::kErrFile, "Failed to create directory %s", path);
    // A separator at the start is the root: it is the parent (cutting it off would
    // leave an empty name and hide why the top folder could not be made).
    const int parentLen = i > 0 ? i : 1;
    cQV_String parent;
    if (!detail::AssignBytes(parent, path, static_cast<size_t>(parentLen)))
        return QV_FAIL(error, detail::kErrMemory, "Failed to allocate memory. Requested size:%d",
                       parentLen + 1);
    if (!osCreateDirectory(error, parent, true)) return false;
    return createOne(error, path);
}

bool osDeleteFile(cQV_Error *error, const char *path) {
    if (!path) path = "";
    if (detail::PlatformDeleteFile(path)) return true;
    int code = osGetSysError();
    return QV_FAIL(error, detail::kErrFile, "Failed to delete file [%s]. %s", path,
                   (const char *)osGetSysErrorStr(code));
}

bool osDeleteDirectory(cQV_Error *error, const char *path, bool recursive) {
    if (!path) path = "";

    // A link to a folder given as the folder itself goes as a link: deleting through
    // it would empty a folder somewhere else. Every trailing separator goes: the
    // system resolves a link named with one left. A link to anything else is no
    // folder and fails below like a plain file.
    cQV_String bare(path);
    for (int n = static_cast<int>(bare.Length());
         n > 0 && (bare[n - 1] == '\\' || bare[n - 1] == '/'); --n)
        bare[n - 1] = 0;
    if (bare.Length() && detail::PlatformEntryNoFollow(bare) == detail::IoEntry::Link &&
        osIsDirectory(bare)) {
        bool dirLink = false;
        if (detail::PlatformRemoveLink(bare, dirLink)) return true;
        int code = osGetSysError();
        cQV_String msg;
        appendFailure(msg, dirLink ? "dir" : "file", bare, code);
        return QV_FAIL(error, detail::kErrFile, "%s", (const char *)msg);
    }

    cQV_String dir(path);
    osEnsureTrailingSlash(dir);
    if (!osIsDirectory(dir)) return osDeleteFile(error, dir);

    cQV_String msg;
    bool result = true;
    cQV_String name;
    void *search = detail::PlatformFindFirst(dir + "*", name);
    for (bool more = search != nullptr; more; more = detail::PlatformFindNext(search, name)) {
        if (name == "." || name == "..") continue;
        cQV_String entry = dir + name;
        // A POSIX name may hold a backslash, which every path argument takes as a
        // separator: the entry's path would name another entry, possibly outside this
        // folder. Such an entry is left in place and reported.
        if (strchr(name, '\\') || strchr(name, '/')) {
            appendFailure(msg, "file", entry, detail::kIoBadNameError);
            result = false;
            continue;
        }
        // Entries are looked at without following links: a link is removed as a
        // link and what it points to is never entered.
        switch (detail::PlatformEntryNoFollow(entry)) {
        case detail::IoEntry::Link: {
            bool dirLink = false;
            if (!detail::PlatformRemoveLink(entry, dirLink)) {
                appendFailure(msg, dirLink ? "dir" : "file", entry, osGetSysError());
                result = false;
            }
            break;
        }
        case detail::IoEntry::Directory:
            if (recursive) {
                // The sub-folder's own lines tell which of its entries stayed.
                cQV_Error sub;
                if (!osDeleteDirectory(&sub, entry, true)) {
                    msg += sub.text;
                    result = false;
                }
            } else if (!detail::PlatformRemoveDirectory(entry)) {
                appendFailure(msg, "dir", entry, osGetSysError());
                result = false;
            }
            break;
        default:
            if (!detail::PlatformDeleteFile(entry)) {
                appendFailure(msg, "file", entry, osGetSysError());
                result = false;
            }
            break;
        }
    }
    if (search) detail::PlatformFindClose(search);

    if (!result) return QV_FAIL(error, detail::kErrFile, "%s", (const char *)msg);
    if (detail::PlatformRemoveDirectory(dir)) return true;
    appendFailure(msg, "dir", dir, osGetSysError());
    return QV_FAIL(error, detail::kErrFile, "%s", (const char *)msg);
}

bool osGetFileTime(cQV_Error *error, const char *path, unsigned int &time) {
    if (!path) path = "";
    if (detail::PlatformGetFileTime(path, time)) return true;
    return QV_FAIL(error, detail::kErrFile, "File not found:%s", path);
}

bool osSetFileTime(cQV_Error *error, const char *path, unsigned int time) {
    if (!path) path = "";
    if (detail::PlatformSetFileTime(path, time)) return true;
    return QV_FAIL(error, detail::kErrFile, "File not found:%s", path);
}

bool osReadFileTxt(cQV_Error *error, const char *path, cQV_String &text, unsigned int maxSize) {
    if (!path) path = "";
    void *file = osFileOpen(path, eFileOpenRead, 0);
    if (file == kInvalid) return QV_FAIL(error, detail::kErrFile, "Failed to open file [%s]", path);
    long long size = osFileSize(file);
    if (size < 0) {
        osFileClose(file);
        return QV_FAIL(error, detail::kErrFile, "Failed to get size of file [%s]", path);
    }
    unsigned n =
        static_cast<unsigned long long>(size) < maxSize ? static_cast<unsigned>(size) : maxSize;
    cQV_String result;
    char *buf = n + 1 > n ? result.GetBuffer(n + 1) : nullptr;
    if (!buf) {
        osFileClose(file);
        return QV_FAIL(error, detail::kErrFile, "Failed to alloc %d bytes of memory",
                       static_cast<int>(n + 1));
    }
    unsigned got = 0;
    if (n && (!osFileRead(file, reinterpret_cast<unsigned char *>(buf), n, got) || got < n)) {
        osFileClose(file);
        return QV_FAIL(error, detail::kErrFile, "Failed to read %d bytes from file [%s]",
                       static_cast<int>(n), path);
    }
    buf[n] = 0;
    osFileClose(file);
    text = result;
    return true;
}

} // namespace Quorvel

namespace Quorvel {

void *osLockFile(cQV_Error *error, const char *path, unsigned waitMs) {
    void *lock = path && *path ? detail::PlatformLockFile(path, waitMs) : nullptr;
    if (!lock) {
        int code = osGetSysError();
        QV_FAIL(error, detail::kErrFile, "Failed to lock file [%s]. %s", path ? path : "",
                (const char *)osGetSysErrorStr(code));
    }
    return lock;
}

void osUnlockFile(void *&lock) {
    detail::PlatformUnlockFile(lock);
    lock = nullptr;
}

} // namespace Quorvel
