// Environment variables, the temporary and log folders, and the console key wait.
#include "qv_file.h"

#include <cstdlib>
#include <cstring>

#include "io_os.h"
#include "string_util.h"
#include "qv_path.h"
#include "qv_thread.h"

namespace Quorvel {

bool osGetEnv(const char *name, cQV_String &value) {
    if (!name) return false;
    const char *v = getenv(name);
    if (!v) return false;
    value = v;
    return true;
}

bool osSetEnv(const char *name, const char *value) {
    if (!name || !name[0]) return false;
    return detail::PlatformSetEnv(name, value ? value : "");
}

cQV_String osGetTemp() {
    cQV_String dir;
    if (!detail::PlatformGetTempDir(dir) || dir.Length() == 0)
        return cQV_String(detail::PlatformTempDirFallback());
    osEnsureTrailingSlash(dir);
    return dir;
}

namespace {

// "<folder>\Logs" with native separators.
cQV_String logsIn(const cQV_String &folder) {
    cQV_String dir(folder);
    osEnsureTrailingSlash(dir);
    dir += "Logs";
    osEnsureCorrectDirSlash(dir);
    return dir;
}

} // namespace

cQV_String osGetLogDir() {
    cQV_String list;
    if (osGetEnv("WDIR", list)) {
        const char *text = list;
        cQV_String first;
        bool firstTaken = false;
        for (const char *p = text;;) {
            const char *end = strchr(p, ';');
            size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
            cQV_String folder;
            detail::AssignBytes(folder, p, n);
            if (!firstTaken) {
                first = folder;
                firstTaken = true;
            }
            if (folder.Length() && osIsDirectory(folder)) return logsIn(folder);
            if (!end) break;
            p = end + 1;
        }
        // None exists yet: the first listed folder is the work folder to make.
        if (first.Length()) {
            osCreateDirectory(nullptr, first, false);
            if (osIsDirectory(first)) return logsIn(first);
        }
    }
    cQV_String dir = osGetTemp();
    dir += "QV_Logs";
    osEnsureTrailingSlash(dir);
    osEnsureCorrectDirSlash(dir);
    return dir;
}

namespace {

const int kNoKey = -2;

// One look at the console: the waiting key, kNoKey when none waits, -1 when the input has
// ended. The terminal is in single-key mode only for the look, so an interrupted program
// does not leave it that way.
int takeWaitingKey() {
    void *console = detail::PlatformConsoleOpen();
    int key =
        detail::PlatformConsoleKeyReady(console) ? detail::PlatformConsoleReadKey(console) : kNoKey;
    detail::PlatformConsoleClose(console);
    return key;
}

} // namespace

bool osWaitForConsoleInput(unsigned int timeout, char &ch) {
    int key = takeWaitingKey();
    if (key == kNoKey) {
        // One wait of the whole time-out, then one more look.
        osSleep(timeout);
        key = takeWaitingKey();
    }
    if (key < 0) return false;
    ch = (key == '\r' || key == '\n') ? '\n' : static_cast<char>(key);
    return true;
}

} // namespace Quorvel
