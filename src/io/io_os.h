// The operating-system primitives under the file-system functions. Implemented
// once per platform (io_posix.cpp, io_win32.cpp); everything else in src/io is
// written once on top of them. Failing primitives leave the reason where
// osGetSysError() finds it.
#pragma once

#include "qv_file.h"
#include "qv_string.h"

namespace Quorvel::detail {

// The separator the path functions write.
extern const char kIoDirSep;
// The system error code for a name that cannot be used in a path.
extern const int kIoBadNameError;

// ---- File handles (the handle is never (void*)-1 here) ----
// mode: eFileOpen* bits; share: eFileShare* bits (Windows only).
void *PlatformFileOpen(const char *name, int mode, int share);
void PlatformFileClose(void *handle);
bool PlatformFileRead(void *handle, unsigned char *buffer, unsigned int count, unsigned int &read);
bool PlatformFileWrite(void *handle, const unsigned char *buffer, unsigned int count,
                       unsigned int &written);
bool PlatformFileFlush(void *handle);
// The new position, or -1.
long long PlatformFileSeek(void *handle, long long offset, eQV_FileSeek origin);

// ---- Saving a file ----
// What a save finds at a path. The save algorithm (io_save.h) decides from it whether the
// file is replaced through a temporary file or written in place.
enum class IoSaveKind {
    Missing,   // nothing there yet (a dangling link names where the file will be)
    Regular,   // an ordinary file
    Special,   // a device, a pipe, a socket: anything that is neither a file nor a folder
    Directory, // never written
};
struct tIoSaveTarget {
    cQV_String path; // what the path finally names, every symbolic link followed
    IoSaveKind kind = IoSaveKind::Missing;
    unsigned long links = 1; // names of an existing file (hard links)
    bool mayWrite = true;    // the caller may write the existing file itself
    bool ownerKept = true;   // a new file of the caller's can be given the file's owner
    // The platform's own facts about the existing file, kept for the replacing step.
    unsigned long long uid = 0, gid = 0;
    unsigned long mode = 0; // permission bits (POSIX) or attributes (Windows)
};
// Follows `path` through its symbolic links and describes what it names. False (reason in
// osGetSysError()) when the path can name no file to write: a loop of links, a name the
// system refuses, a folder that cannot be searched.
bool PlatformSaveTarget(const char *path, tIoSaveTarget &target);
// Creates the new empty file `temp` (a name beside target.path) so that nobody but its
// creator can open it, and gives it the existing file's owner where the platform has owners.
// The handle, or (void*)-1 with `taken` telling whether the name was in use.
void *PlatformSaveCreateTemp(const tIoSaveTarget &target, const char *temp, bool &taken);
// Opens the existing target for writing in place, emptied first where it is a file.
void *PlatformSaveOpenInPlace(const tIoSaveTarget &target);
enum class IoReplace {
    Done,   // the temporary file now is the target
    Busy,   // another process holds the target so that it cannot be replaced (Windows)
    Failed, // reason in osGetSysError()
};
// Gives the temporary file (its handle `file`, which this closes) the target's permissions,
// flushes it to stable storage and puts it in place of the target in one step. The temporary
// file stays on Busy and Failed; the caller removes it.
IoReplace PlatformSaveReplace(void *file, const char *temp, const tIoSaveTarget &target);
// Flushes and closes a file written in place; a device or pipe that cannot be flushed is no
// failure.
bool PlatformSaveFinishInPlace(void *file, const tIoSaveTarget &target);

// ---- Advisory locks between processes ----
// Opens (creating it when missing) the lock file `path` and holds an exclusive lock on it,
// waiting at most `waitMs` milliseconds. The lock, or null (reason in osGetSysError()).
void *PlatformLockFile(const char *path, unsigned waitMs);
void PlatformUnlockFile(void *lock);

// The byte that ends a text file for the platform's text-mode reading, or -1 for none.
extern const int kIoTextEnd;
// The line end of the text files the library writes.
extern const char kIoLineEnd[];

// ---- Entries ----
enum class IoEntry {
    Missing,
    File,
    Directory,
    Link, // symbolic link or junction, looked at without following it
};
// What the path names, following links.
IoEntry PlatformEntryFollow(const char *path);
// What the entry itself is; a link is reported as Link whatever it points to.
IoEntry PlatformEntryNoFollow(const char *path);

bool PlatformCreateDirectory(const char *path);
bool PlatformRemoveDirectory(const char *path);
bool PlatformDeleteFile(const char *path);
// Removes a link entry without touching its target. dirLink tells whether the
// platform sees the link as a directory entry (for the message).
bool PlatformRemoveLink(const char *path, bool &dirLink);

// ---- Directory search over "folder<sep>pattern" ----
void *PlatformFindFirst(const char *search, cQV_String &name);
bool PlatformFindNext(void *search, cQV_String &name);
void PlatformFindClose(void *search);

// ---- File times, seconds since 1970 UTC ----
bool PlatformGetFileTime(const char *path, unsigned int &time);
bool PlatformSetFileTime(const char *path, unsigned int time);

// ---- Environment and folders ----
bool PlatformSetEnv(const char *name, const char *value);
// The temporary folder as the system gives it; false when unavailable.
bool PlatformGetTempDir(cQV_String &dir);
// The platform's fallback when PlatformGetTempDir fails.
const char *PlatformTempDirFallback();

// ---- Drive mapping ----
// The folder a drive letter ("X:") substitutes, or false.
bool PlatformDriveSubstitute(const char *drive, cQV_String &target);
// Full path of a relative or drive path.
cQV_String PlatformFullPath(const char *path);
// Universal name of a full path. Returns the Win32-style answer: 0 on success,
// 1200 bad device, 1201 connection unavailable, 50 not supported, anything else
// for "not a network path".
int PlatformUniversalName(const char *fullPath, cQV_String &universal);

// ---- Console ----
// One look at the console: prepares standard input (a terminal goes to single-key
// mode) and restores it on close.
void *PlatformConsoleOpen();
bool PlatformConsoleKeyReady(void *console);
// Reads one key (echoed on a terminal); -1 when none could be read.
int PlatformConsoleReadKey(void *console);
void PlatformConsoleClose(void *console);

} // namespace Quorvel::detail
