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
