// The operating-system primitives under the file-system functions. Implemented
// once per platform (io_posix.cpp, io_win32.cpp); everything else in src/io is
// written once on top of them. Failing primitives leave the reason where
// osGetSysError() finds it.
#pragma once

#include "qv_string.h"

namespace Quorvel {
namespace detail {

// The separator the path functions write.
extern const char kIoDirSep;
// The system error code for a name that cannot be used in a path.
extern const int kIoBadNameError;

// ---- File handles (the handle is never (void*)-1 here) ----
void *ioFileOpen(const char *name, int mode, int share);
void ioFileClose(void *handle);
bool ioFileRead(void *handle, unsigned char *buffer, unsigned int count, unsigned int &read);
bool ioFileWrite(void *handle, const unsigned char *buffer, unsigned int count,
                 unsigned int &written);
bool ioFileFlush(void *handle);
// origin: 0 begin, 1 end, 2 current. New position or -1.
long long ioFileSeek(void *handle, long long offset, int origin);

// ---- Entries ----
enum class IoEntry {
    Missing,
    File,
    Directory,
    Link, // symbolic link or junction, looked at without following it
};
// What the path names, following links.
IoEntry ioEntryFollow(const char *path);
// What the entry itself is; a link is reported as Link whatever it points to.
IoEntry ioEntryNoFollow(const char *path);

bool ioCreateDir(const char *path);
bool ioRemoveDir(const char *path);
bool ioDeleteFile(const char *path);
// Removes a link entry without touching its target. dirLink tells whether the
// platform sees the link as a directory entry (for the message).
bool ioRemoveLink(const char *path, bool &dirLink);

// ---- Directory search over "folder<sep>pattern" ----
void *ioFindFirst(const char *search, cQV_String &name);
bool ioFindNext(void *search, cQV_String &name);
void ioFindClose(void *search);

// ---- File times, seconds since 1970 UTC ----
bool ioGetMTime(const char *path, unsigned int &time);
bool ioSetTimes(const char *path, unsigned int time);

// ---- Environment and folders ----
bool ioSetEnv(const char *name, const char *value);
// The temporary folder as the system gives it; false when unavailable.
bool ioTempDir(cQV_String &dir);
// The platform's fallback when ioTempDir fails.
const char *ioTempFallback();

// ---- Drive mapping ----
// The folder a drive letter ("X:") substitutes, or false.
bool ioDriveSubstitute(const char *drive, cQV_String &target);
// Full path of a relative or drive path.
cQV_String ioFullPath(const char *path);
// Universal name of a full path. Returns the Win32-style answer: 0 on success,
// 1200 bad device, 1201 connection unavailable, 50 not supported, anything else
// for "not a network path".
int ioUniversalName(const char *fullPath, cQV_String &universal);

// ---- Console ----
// One look at the console: prepares standard input (a terminal goes to single-key
// mode) and restores it on close.
void *ioConsoleOpen();
bool ioConsoleKeyReady(void *console);
// Reads one key (echoed on a terminal); -1 when none could be read.
int ioConsoleReadKey(void *console);
void ioConsoleClose(void *console);

} // namespace detail
} // namespace Quorvel
