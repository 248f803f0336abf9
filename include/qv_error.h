// The error record and the system's error text.
#pragma once

#include "qv_os_export.h"
#include "qv_string.h"

namespace Quorvel {

// Codes shared by every module; there is no code 2.
//   0 no error, 1 system service/value unavailable (osevent, ossysinfo), 3 files, paths,
//   configuration and streams (oscfg, osio, osstorage), 4 thread creation (osthread), 5 processes
//   (osprocess), 6 sockets (ossocket), 7 memory allocation, 8 host name resolution (ossocket).
//
// The one way the library reports a failure: code, source module, source line and an English
// message. The text form is "%d:%d:%d:%s:%d:%s" (code, line, length of file, file, length of
// text, text); callers store and parse it, so it is part of the interface.
class QV_OS_API cQV_Error {
public:
    int code = 0;    // 0 no error, else one of the codes above
    int line = 0;    // source line where the failure was found; 0 when none
    cQV_String file; // source module that found it ("osio", ...); empty when none
    cQV_String text; // the message; empty when none

    cQV_Error() = default;         // code 0, line 0, both texts empty
    cQV_Error(const cQV_Error &o); // copies all four fields
    cQV_Error &
    operator=(const cQV_Error &o); // copies all four fields; self-assignment does nothing
    ~cQV_Error() = default;

    // Stores the four values (null texts become empty); returns !code.
    bool Set(int code, const char *file, int line, const char *text);
    // As the member when err is not null; stores nothing otherwise. Returns !code either way.
    static bool Set(cQV_Error *err, int code, const char *file, int line, const char *text);
    // Stores code, line and file, then formats the message; returns !code. The arguments must not
    // point into this record's text.
    bool SetFormat(int code, const char *file, int line, const char *fmt, ...) QV_OS_PRINTF(5, 6);
    // As the member when err is not null; formats nothing otherwise. Returns !code either way.
    static bool SetFormat(cQV_Error *err, int code, const char *file, int line, const char *fmt,
                          ...) QV_OS_PRINTF(5, 6);

    bool IsError() const { return code != 0; }    // code is not 0
    bool IsNotError() const { return code == 0; } // code is 0
    void Reset();                                 // code and line 0, both texts emptied
    cQV_String GetText() const { return text; }   // a copy of the message

    // "%d:%d:%d:%s:%d:%s"; the empty record gives "0:0:0::0:".
    cQV_String ToString() const;
    // Reads the text form; true and all four fields replaced, or false and the record unchanged.
    // Bytes after the message are ignored.
    bool FromString(const char *s);
};

// The calling thread's last system error (errno on POSIX, GetLastError on Windows). Call it right
// after the failing call, on the same thread.
QV_OS_API int osGetSysError();
// "GetLastError()=%d [%s]" with the system's message for code (trailing CR/LF removed), or the
// empty string when the system has no message for it. The frame is part of the interface on every
// platform, POSIX included.
QV_OS_API cQV_String osGetSysErrorStr(int code);

} // namespace Quorvel
