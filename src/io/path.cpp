// Path text functions. Pure text work, the same on every platform except for the
// separator written (kIoDirSep).
#include "qv_path.h"
#include "error_codes.h"

#include <cstring>

#include "io_os.h"
#include "string_util.h"

namespace Quorvel {

using detail::kIoDirSep;

namespace {

inline bool isSep(char c) {
    return c == '\\' || c == '/';
}

const char kModule[] = "osio";

// Position of the last separator, or -1.
int lastSep(const char *path) {
    int last = -1;
    for (int i = 0; path[i]; ++i)
        if (isSep(path[i])) last = i;
    return last;
}

// Assigns the first n bytes of text to out.
bool assignPart(cQV_String &out, const char *text, unsigned n) {
    cQV_String part;
    if (!detail::AssignBytes(part, text, n)) return false;
    out = part;
    return true;
}

// Splits "server\rest" (the text after the two leading separators).
bool splitServer(const char *afterSlashes, cQV_String &server, cQV_String &share) {
    const char *end = strchr(afterSlashes, '\\');
    if (!end)
        return assignPart(server, afterSlashes, (unsigned)strlen(afterSlashes)) &&
               assignPart(share, "", 0);
    return assignPart(server, afterSlashes, (unsigned)(end - afterSlashes)) &&
           assignPart(share, end + 1, (unsigned)strlen(end + 1));
}

} // namespace

void osChangeFileExt(cQV_String &path, const char *ext) {
    const char *text = path;
    int len = (int)strlen(text);
    int cut = len;
    for (int i = len - 1; i >= 0; --i) {
        if (isSep(text[i])) break;
        if (text[i] == '.') {
            cut = i;
            break;
        }
    }
    cQV_String result;
    if (cut > 0) assignPart(result, text, (unsigned)cut);
    result += ".";
    result += ext;
    path = result;
}

cQV_String osExtractFileExt(const char *path) {
    if (!path) return cQV_String();
    for (int i = (int)strlen(path) - 1; i >= 0; --i) {
        if (isSep(path[i])) break;
        if (path[i] == '.') return cQV_String(path + i + 1);
    }
    return cQV_String();
}

cQV_String osExtractFilename(const char *path) {
    if (!path) return cQV_String();
    int sep = lastSep(path);
    if (sep < 0 || path[sep + 1] == 0) return cQV_String(path);
    return cQV_String(path + sep + 1);
}

cQV_String osExtractFilepath(const char *path) {
    cQV_String result;
    if (!path) return result;
    int sep = lastSep(path);
    if (sep >= 0) assignPart(result, path, (unsigned)sep + 1);
    return result;
}

void osEnsureCorrectDirSlash(cQV_String &path) {
    unsigned len = path.Length();
    for (unsigned i = 0; i < len; ++i)
        if (isSep(path[(int)i])) path[(int)i] = kIoDirSep;
}

void osEnsureNoTrailingSlash(cQV_String &path) {
    unsigned len = path.Length();
    if (len && isSep(path[(int)len - 1]))
        path[(int)len - 1] = 0; // the string keeps no length: the NUL shortens it
}

void osEnsureTrailingSlash(cQV_String &path) {
    unsigned len = path.Length();
    if (len && !isSep(path[(int)len - 1])) {
        const char sep[2] = {kIoDirSep, 0};
        path += sep;
    }
}

bool osIsUncPath(const char *path) {
    return path && isSep(path[0]) && isSep(path[1]) && path[2] != '?';
}

bool osIsUniPath(const char *path) {
    if (!path) return true;
    for (const char *p = path; *p; ++p) {
        if (*p == '|') return true;
        if (isSep(*p)) return false;
    }
    return true;
}

void osEncodeUniPath(const char *first, const char *second, cQV_String &uni) {
    cQV_String result(first);
    result += "|";
    result += second;
    uni = result;
}

bool osDecodeUniPath(const char *uni, cQV_String &first, cQV_String &second) {
    if (!uni) uni = "";
    const char *p = uni;
    for (; *p && *p != '|'; ++p)
        if (isSep(*p)) return false;
    cQV_String a, b;
    if (!assignPart(a, uni, (unsigned)(p - uni))) return false;
    if (*p == '|' && !assignPart(b, p + 1, (unsigned)strlen(p + 1))) return false;
    first = a;
    second = b;
    return true;
}

void osMakeLocalPath(cQV_String &path) {
    const char *text = path;
    if (!text[0] || text[1] != ':') return;
    const char device[3] = {text[0], ':', 0};
    cQV_String target;
    if (!detail::PlatformDriveSubstitute(device, target)) return;
    // A substitution's target reads "\??\D:\folder"; other devices stay as they are.
    if (strncmp(target, "\\??\\", 4) != 0) return;
    const char *drive = (const char *)target + 4;
    if (!drive[0] || drive[1] != ':') return;
    cQV_String result(drive);
    result += text + 2;
    path = result;
}

bool osConvertToUnc(cQV_Error *error, const char *path, cQV_String &server, cQV_String &share) {
    if (!path) path = "";
    if (osIsUncPath(path)) {
        if (path[0] != '\\' || path[1] != '\\')
            return QV_FAIL(error, detail::kErrFile,
                           "Failed to convert [%s] to UNC path: Invalid path", path);
        return splitServer(path + 2, server, share);
    }

    cQV_String fullPath = detail::PlatformFullPath(path);
    cQV_String universal;
    switch (detail::PlatformUniversalName(fullPath, universal)) {
    case 0: {
        const char *name = universal;
        if (name[0] == '\\' && name[1] == '\\') return splitServer(name + 2, server, share);
        return QV_FAIL(error, detail::kErrFile,
                       "Failed to convert [%s] to UNC path: Invalid data received "
                       "from WNetGetUniversalName:%s",
                       path, name);
    }
    case 1200:
        return QV_FAIL(
            error, detail::kErrFile,
            "Failed to convert [%s] to UNC path: ERROR_BAD_DEVICE (The string is invalid path.)",
            (const char *)fullPath);
    case 1201:
        return QV_FAIL(
            error, detail::kErrFile,
            "Failed to convert [%s] to UNC path: ERROR_CONNECTION_UNAVAIL (There is no current "
            "connection to the remote device, but there is a remembered (persistent) connection "
            "to it.)",
            (const char *)fullPath);
    case 50:
        return QV_FAIL(error, detail::kErrFile,
                       "Failed to convert [%s] to UNC path: ERROR_NOT_SUPPORTED "
                       "(Network provider does not support UNC names)",
                       (const char *)fullPath);
    default:
        // Not a network path (a local drive, no network): false, nothing to report.
        return false;
    }
}

} // namespace Quorvel
