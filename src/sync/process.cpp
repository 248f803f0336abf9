// Process functions: command-line composition, validation and messages. The calls into the system
// live in process_linux.cpp and process_win32.cpp.
#include "qv_process.h"
#include "error_codes.h"

#include "process_os.h"

#include <cstring>

namespace Quorvel {

namespace {
const char kModule[] = "osprocess";
} // namespace

unsigned osCreateProcess(cQV_Error *err, const char *command, const char *arguments, const char *,
                         const char *, const char *desktop) {
    int sysError = 0;
    unsigned pid = 0;
    // Without a command there is nothing to run: the arguments are never taken for a program.
    if (!command || !command[std::strspn(command, " \t")]) {
        sysError = detail::PlatformNoProgramError();
    } else {
        // The line is composed exactly as given: the caller owns any quoting. A string that could
        // not grow keeps its old text, so the length shows whether the line is whole.
        const bool withArguments = arguments && *arguments;
        const size_t length =
            std::strlen(command) + (withArguments ? 1 + std::strlen(arguments) : 0);
        cQV_String line(command);
        if (withArguments) {
            line += " ";
            line += arguments;
        }
        if (line.Length() != length)
            sysError = detail::PlatformNoMemoryError();
        else
            pid = detail::PlatformCreateProcess(line, desktop, sysError);
    }
    if (!pid)
        QV_FAIL(err, detail::kErrProcess, "Failed to create process: %s",
                static_cast<const char *>(osGetSysErrorStr(sysError)));
    return pid;
}

void osCloseProcessHandle(unsigned &process) {
    process = 0;
}

unsigned osGetCurrentProcessId() {
    return detail::PlatformGetCurrentProcessId();
}

bool osIsProcessExist(unsigned &process) {
    if (!process) return false;
    return detail::PlatformIsProcessRunning(process);
}

bool osKillProcess(cQV_Error *err, unsigned &process, unsigned exitCode) {
    if (!process) return QV_FAIL(err, detail::kErrProcess, "Invalid process id");
    int sysError = 0;
    switch (detail::PlatformKillProcess(process, exitCode, sysError)) {
    case detail::eKillResult::Killed:
        return true;
    case detail::eKillResult::OpenFailed:
        return QV_FAIL(err, detail::kErrProcess, "Failed to open process %d. %s",
                       static_cast<int>(process),
                       static_cast<const char *>(osGetSysErrorStr(sysError)));
    case detail::eKillResult::KillFailed:
        break;
    }
    return QV_FAIL(err, detail::kErrProcess, "Failed to kill process %d. %s",
                   static_cast<int>(process),
                   static_cast<const char *>(osGetSysErrorStr(sysError)));
}

bool osGetCurrentProcessUser(cQV_String &user) {
    return detail::PlatformGetCurrentProcessUser(user);
}

void osSetSilentErrorMode() {
    detail::PlatformSetSilentErrorMode();
}

namespace detail {

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
} // namespace

bool SplitCommandLine(const char *commandLine, std::vector<std::string> &args) {
    try {
        args.clear();
        const char *p = commandLine ? commandLine : "";
        while (IsBlank(*p))
            ++p;
        if (!*p) return true;

        // The program token only groups by quotes: a path such as "C:\dir\" keeps its backslashes.
        std::string token;
        bool quoted = false;
        for (; *p && (quoted || !IsBlank(*p)); ++p) {
            if (*p == '"')
                quoted = !quoted;
            else
                token += *p;
        }
        args.push_back(token);

        for (;;) {
            while (IsBlank(*p))
                ++p;
            if (!*p) return true;
            token.clear();
            quoted = false;
            while (*p && (quoted || !IsBlank(*p))) {
                if (*p == '\\') {
                    size_t n = 0;
                    while (p[n] == '\\')
                        ++n;
                    if (p[n] != '"') {
                        token.append(n, '\\');
                        p += n;
                        continue;
                    }
                    // Backslashes before a quote escape each other in pairs; an odd one out makes
                    // the quote literal.
                    token.append(n / 2, '\\');
                    p += n;
                    if (n % 2) {
                        token += '"';
                        ++p;
                    }
                    continue;
                }
                if (*p == '"') {
                    if (quoted && p[1] == '"') {
                        token += '"';
                        p += 2;
                    } else {
                        quoted = !quoted;
                        ++p;
                    }
                    continue;
                }
                token += *p++;
            }
            args.push_back(token);
        }
    } catch (const std::bad_alloc &) {
        args.clear();
        return false;
    }
}

} // namespace detail

} // namespace Quorvel
