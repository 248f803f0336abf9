// Files, directories, file times, environment, standard folders and console input.
//
// Failures that fill a cQV_Error use code 3 and module "osio".
#pragma once

#include "qv_os_export.h"
#include "qv_error.h"
#include "qv_string.h"

namespace Quorvel {

// File handles are void *. The invalid handle is (void*)-1, not null. On Windows
// the value is the system file handle; on POSIX it carries the file descriptor.
// Every handle the library opens is close-on-exec (never inherited by children).

// osFileOpen mode bits.
enum {
    eFileOpenRead = 1,   // read access
    eFileOpenWrite = 2,  // write access
    eFileOpenCreate = 4, // always create a new empty file; without it the file must exist
};

// osFileOpen share bits (other bits are ignored). POSIX has no share modes: there
// the bits are accepted and have no effect.
enum {
    eFileShareRead = 0x100,  // others may open the file for reading
    eFileShareWrite = 0x200, // others may open the file for writing
};

// osFileSeek origins; any other value counts as eFileSeekBegin.
enum eQV_FileSeek {
    eFileSeekBegin = 0,   // from the start of the file
    eFileSeekEnd = 1,     // from the end of the file
    eFileSeekCurrent = 2, // from the current position
};

// Plain value holders; no function of the library fills them.
class QV_OS_API cQV_FileInfo {
public:
    // Zero numbers and an empty name; copies copy every field.
    cQV_FileInfo();
    cQV_FileInfo(const cQV_FileInfo &o);
    cQV_FileInfo &operator=(const cQV_FileInfo &o);
    ~cQV_FileInfo();

    int attributes;  // free for the caller's use
    int size;        // free for the caller's use
    cQV_String name; // free for the caller's use
};

// A folder's name holder; no function of the library fills it.
class QV_OS_API cQV_FolderInfo {
public:
    // An empty name; copies copy it.
    cQV_FolderInfo();
    cQV_FolderInfo(const cQV_FolderInfo &o);
    cQV_FolderInfo &operator=(const cQV_FolderInfo &o);
    ~cQV_FolderInfo();

    cQV_String name; // free for the caller's use
};

// ---- Advisory locks between processes ----------------------------------------

// Takes an exclusive advisory lock on the lock file `path` (created when missing, and left in
// place afterwards), waiting at most waitMs milliseconds for another process to release it.
// The lock, or null with code 3 "Failed to lock file [%s]. %s". Locks exclude each other
// between processes only: two locks of one process on one file do not wait for each other
// on POSIX.
QV_OS_API void *osLockFile(cQV_Error *error, const char *path, unsigned waitMs);
// Releases a lock of osLockFile and sets it to null.
QV_OS_API void osUnlockFile(void *&lock);

// ---- Handles and raw access -------------------------------------------------

// Opens (or with eFileOpenCreate creates/empties) a file; (void*)-1 on failure.
// Directories cannot be opened.
QV_OS_API void *osFileOpen(const char *name, int mode, int share);
// Closes and sets handle to (void*)-1; false for the invalid handle.
QV_OS_API bool osFileClose(void *&handle);
// Reads up to count bytes; read = bytes read, 0 at end of file.
QV_OS_API bool osFileRead(void *handle, unsigned char *buffer, unsigned int count,
                          unsigned int &read);
// Writes count bytes; written = bytes written.
QV_OS_API bool osFileWrite(void *handle, const unsigned char *buffer, unsigned int count,
                           unsigned int &written);
// Writes the file's data through to the storage device (fsync on POSIX); false for the invalid
// handle or when the system fails.
QV_OS_API bool osFlushFileBuffers(void *handle);
// New position, or -1.
QV_OS_API long long osFileSeek(void *handle, long long offset, eQV_FileSeek origin);
// Current position, or -1.
QV_OS_API long long osFileTell(void *handle);
// File size (position unchanged), or -1.
QV_OS_API long long osFileSize(void *handle);
// Reads one line from the current position. maxLen 0 means 65535; a line fits when
// its bytes including the line feed number at most maxLen. A line ends after a
// line feed or a NUL byte; a trailing LF (and a CR before it) is removed unless
// the line is a lone LF, which is returned as "\n". At end of file: true and an
// empty line. On failure: false, line unchanged, position restored.
QV_OS_API bool osFileReadLine(void *handle, cQV_String &line, unsigned int maxLen);
// True when the path names an existing entry (file, directory or link).
QV_OS_API bool osFileIsExist(const char *path);
// True when the path exists and is a directory.
QV_OS_API bool osIsDirectory(const char *path);

// ---- Directory search -------------------------------------------------------

// Searches dir for pattern ('*' any run of bytes, '?' one byte; no other
// wildcards; "*.*" matches every name). "." and ".." are reported like any other
// entry, before the others on POSIX. Returns the search handle and the first name,
// or null (name unchanged) when nothing matches. POSIX matching is case-sensitive,
// Windows matching is not.
QV_OS_API void *osFileFindFirst(const char *dir, const char *pattern, cQV_String &name);
// Next name; false when there is none or search is null.
QV_OS_API bool osFileFindNext(void *search, cQV_String &name);
// Ends the search and sets it to null.
QV_OS_API void osFileFindEnd(void *&search);

// ---- Directories and files --------------------------------------------------

// Creates a directory (and its missing parents when recursive). An existing one
// gives true and leaves error untouched; a created one (also one that another
// thread or process makes at the same moment) clears error. Messages:
// "Directory with empty name can not be created", "Failed to create directory %s. %s",
// "Failed to create directory %s".
QV_OS_API bool osCreateDirectory(cQV_Error *error, const char *path, bool recursive);
// Deletes a directory with its files (and sub-directories when recursive; without
// recursive only empty sub-directories go). Symbolic links and junctions are
// removed as links: their targets are never entered. An entry whose name holds a
// backslash (possible on POSIX, where paths take it as a separator) is left in
// place and reported. A path that is not a directory (a file, a link to a file, nothing) is left
// as it is and fails as the deletion of the file "<path><separator>", which no system performs:
// "Failed to delete file [%s]. %s" with the system's reason ("Not a directory" on POSIX).
// Otherwise the message is the lines "dir [%s] %s\n" and "file [%s] %s\n" of every entry that
// could not be removed.
QV_OS_API bool osDeleteDirectory(cQV_Error *error, const char *path, bool recursive);
// "Failed to delete file [%s]. %s"
QV_OS_API bool osDeleteFile(cQV_Error *error, const char *path);
// Modification time in seconds since 1970-01-01 UTC. "File not found:%s"
QV_OS_API bool osGetFileTime(cQV_Error *error, const char *path, unsigned int &time);
// Sets access and modification time. "File not found:%s"
QV_OS_API bool osSetFileTime(cQV_Error *error, const char *path, unsigned int time);
// Reads at most maxSize bytes from the start of the file, as they are (a NUL ends
// the text). Messages: "Failed to open file [%s]", "Failed to get size of file [%s]",
// "Failed to alloc %d bytes of memory", "Failed to read %d bytes from file [%s]".
QV_OS_API bool osReadFileTxt(cQV_Error *error, const char *path, cQV_String &text,
                             unsigned int maxSize);

// ---- Environment, standard folders, console ---------------------------------

// False and value unchanged when the variable is not set.
QV_OS_API bool osGetEnv(const char *name, cQV_String &value);
// Sets name to value. An empty value removes the variable on Windows and sets it
// to the empty text on POSIX.
QV_OS_API bool osSetEnv(const char *name, const char *value);
// The folder for temporary files, ending with a separator. Windows: the system's
// temporary path ("C:\" when unavailable); POSIX: TMPDIR when set and not empty,
// else "/tmp/".
QV_OS_API cQV_String osGetTemp();
// The folder for log files: the first existing folder of the ';'-separated list in
// "WDIR" (the first listed one is created when none exists) followed by "Logs";
// without a usable "WDIR" the temporary folder followed by "QV_Logs" and a
// separator. Creates no "Logs" or "QV_Logs" folder.
QV_OS_API cQV_String osGetLogDir();
// Waits once for timeout milliseconds when no key is ready, then takes one key:
// on a terminal one key press without Enter, echoed; with standard input a pipe or
// a file, one byte. CR and LF are both reported as LF. False when no key came.
// POSIX: a background job of its terminal sees no key and leaves the terminal
// alone (touching it would stop the process).
QV_OS_API bool osWaitForConsoleInput(unsigned int timeout, char &ch);

} // namespace Quorvel
