// Child processes and facts about the calling process.
//
// Processes are named by their numeric id; 0 means no process. The library keeps no platform
// handle open between calls: every operation opens the process anew by its id. On POSIX it
// remembers the ids of the children it started until it has reaped them.
#pragma once

#include "qv_error.h"
#include "qv_os_export.h"
#include "qv_string.h"

namespace Quorvel {

// Starts a program and returns its process id, or 0 on failure (code 5, module "osprocess",
// "Failed to create process: %s" with the system's text).
//
// The command line is `command`, followed by one blank and `arguments` when `arguments` is neither
// null nor empty; nothing is quoted or escaped. Its first token names the program; a null or blank
// `command` fails (the arguments are never taken for the program). The line is split into
// arguments by the Windows rules: blanks and tabs separate, double quotes group (a doubled quote
// inside a quoted part is one literal quote), 2n backslashes before a quote give n backslashes and
// 2n+1 give n backslashes and a literal quote, other backslashes are literal. The first token only
// groups by quotes. No shell is involved: `;`, `|`, `$(...)`, backticks, redirections and
// wildcards reach the program as text.
//
// The child gets the caller's environment and current folder. Windows: it inherits no handle, is
// detached from the caller's console, runs at normal priority, is shown with the show state 5, on
// `desktop` when that is neither null nor empty. POSIX: the program is looked up in PATH when the
// first token holds no slash; the child inherits no descriptor beyond standard input, output and
// error, leads a session of its own, and starts with an empty signal mask and every signal at its
// default action; `desktop` has no meaning. A program that cannot be started (missing, not
// executable, neither a binary nor a script with an interpreter line) fails here, never later in
// the child. The third and fourth strings are not used; they may be null.
QV_OS_API unsigned osCreateProcess(cQV_Error *err, const char *command, const char *arguments,
                                   const char *, const char *, const char *desktop);

// Sets `process` to 0. The process itself is not affected.
QV_OS_API void osCloseProcessHandle(unsigned &process);

// The calling process's id.
QV_OS_API unsigned osGetCurrentProcessId();

// True while the process runs; false for 0, for an id that names no process (a thread id
// included), and for a process that has ended. POSIX: a child that this library started and that
// has ended is reaped here, and those nobody asks about are reaped when the next child starts, so
// none stays behind as a zombie; any other zombie is reported as ended and left to its parent. A
// process of another user counts as running. Windows: a process that ended with exit code 259
// counts as ended as well.
QV_OS_API bool osIsProcessExist(unsigned &process);

// Ends the process at once; true on success. Does not wait for it to be gone and leaves `process`
// unchanged. Failures (code 5, module "osprocess"): "Invalid process id" for 0, "Failed to open
// process %d. %s" when no such process exists or it may not be ended, "Failed to kill process %d.
// %s" when ending it fails. Windows: the process ends with `exitCode`. POSIX: the process receives
// SIGKILL, so its exit status cannot be chosen and `exitCode` is not used.
QV_OS_API bool osKillProcess(cQV_Error *err, unsigned &process, unsigned exitCode);

// Puts the name of the account the calling process runs as into `user` (POSIX: the effective
// user). False when there is no name; `user` is then left as it was.
QV_OS_API bool osGetCurrentProcessUser(cQV_String &user);

// Windows: the system shows no dialog for critical errors, general protection faults or files that
// cannot be opened; the process gets the error instead. POSIX: does nothing (there are no such
// dialogs).
QV_OS_API void osSetSilentErrorMode();

} // namespace Quorvel
