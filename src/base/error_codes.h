// The error codes every module reports, by name, and the one way the library fills a record at a
// failure. Internal: callers see the numbers, which are part of the interface.
#pragma once

#include "qv_error.h"

namespace Quorvel::detail {

// There is no code 2; the numbers are stored by callers and must never change.
enum : int {
    kErrNone = 0,
    kErrSystem = 1,  // a system service failed or a value is not available
    kErrFile = 3,    // files, directories, paths, configuration files, data streams
    kErrThread = 4,  // thread creation
    kErrProcess = 5, // process creation, opening and termination
    kErrSocket = 6,  // socket operations
    kErrMemory = 7,  // memory allocation
    kErrResolve = 8, // host name resolution
};

} // namespace Quorvel::detail

// Fills *err (when not null) with code, the translation unit's kModule and the current line,
// formats the message, and yields false (true for kErrNone). Every failure of the library is
// reported through it, so that a failure names its module and line the same way everywhere.
#define QV_FAIL(err, code, ...)                                                                    \
    ::Quorvel::cQV_Error::SetFormat((err), (code), kModule, __LINE__, __VA_ARGS__)
