// Path text functions and drive-mapping queries.
//
// Both '/' and '\' are separators on input everywhere. Where a function adds or
// normalises a separator it writes the native one: '\' on Windows, '/' elsewhere.
#pragma once

#include "qv_os_export.h"
#include "qv_error.h"
#include "qv_string.h"

namespace Quorvel {

// Cuts the extension of the last path component (from its last '.') and appends
// '.' + ext. A last component without '.' keeps its text; a null or empty ext
// appends the dot alone.
QV_OS_API void osChangeFileExt(cQV_String &path, const char *ext);

// The text after the last '.' of the last component; empty when it has none.
QV_OS_API cQV_String osExtractFileExt(const char *path);

// The text after the last separator; the whole path when that text is empty.
QV_OS_API cQV_String osExtractFilename(const char *path);

// The text up to and including the last separator; empty when there is none.
QV_OS_API cQV_String osExtractFilepath(const char *path);

// Turns every separator into the native one.
QV_OS_API void osEnsureCorrectDirSlash(cQV_String &path);

// Removes one trailing separator, if there is one.
QV_OS_API void osEnsureNoTrailingSlash(cQV_String &path);

// Appends the native separator to a non-empty path that does not end with one.
QV_OS_API void osEnsureTrailingSlash(cQV_String &path);

// True when the path starts with two separators and its third byte is not '?'.
QV_OS_API bool osIsUncPath(const char *path);

// True when a '|' comes before any separator, or when the text holds neither.
QV_OS_API bool osIsUniPath(const char *path);

// uni = first + "|" + second (a null part counts as empty).
QV_OS_API void osEncodeUniPath(const char *first, const char *second, cQV_String &uni);

// Splits at the first '|'. False, outputs unchanged, when a separator comes before
// it (or when an output cannot be allocated). Without '|', first is the whole text.
QV_OS_API bool osDecodeUniPath(const char *uni, cQV_String &first, cQV_String &second);

// Replaces a substituted drive ("X:" standing for a folder) by the folder behind
// it. Without drive letters (POSIX) every path is left unchanged.
QV_OS_API void osMakeLocalPath(cQV_String &path);

// Server name and the path on that server for a UNC path or a path on a mapped
// network drive. Failures with code 3, module "osio":
//   "Failed to convert [%s] to UNC path: Invalid path" (UNC path starting with '/')
//   "Failed to convert [%s] to UNC path: ERROR_BAD_DEVICE (...)" and the messages
//   for ERROR_CONNECTION_UNAVAIL, ERROR_NOT_SUPPORTED and for an unusable answer.
// Other causes (a local path, no network) return false without filling error.
// On POSIX only the UNC text form "\\server\share..." can succeed.
QV_OS_API bool osConvertToUnc(cQV_Error *error, const char *path, cQV_String &server,
                              cQV_String &share);

} // namespace Quorvel
