// Platform primitives behind the process functions (internal). Implemented in process_linux.cpp
// (Linux: /proc for processes that are not ours, closing inherited descriptors at spawn) and
// process_win32.cpp.
#pragma once

#include "qv_string.h"

#include <string>
#include <vector>

namespace Quorvel::detail {

// Starts the program that the first token of `commandLine` names. Returns its id, or 0 with the
// system's error code in `sysError`.
unsigned PlatformCreateProcess(const char *commandLine, const char *desktop, int &sysError);

// The system's error codes for "no such program" and "out of memory", for the messages of failures
// found before the system is asked.
int PlatformNoProgramError();
int PlatformNoMemoryError();

// True while the process `pid` (not 0) runs.
bool PlatformIsProcessRunning(unsigned pid);

enum class eKillResult { Killed, OpenFailed, KillFailed };

// Ends the process `pid` (not 0); on failure `sysError` holds the reason.
eKillResult PlatformKillProcess(unsigned pid, unsigned exitCode, int &sysError);

unsigned PlatformGetCurrentProcessId();
bool PlatformGetCurrentProcessUser(cQV_String &user);
void PlatformSetSilentErrorMode();

// Splits a command line into program and arguments by the Windows rules (see osCreateProcess).
// False when memory runs out. An empty or blank line gives no token at all.
bool SplitCommandLine(const char *commandLine, std::vector<std::string> &args);

} // namespace Quorvel::detail
