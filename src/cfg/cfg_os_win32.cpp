// Windows file primitives of the configuration reader and writer.
#include "cfg_os.h"

#include <windows.h>

#include <atomic>

namespace Quorvel::detail {

const char kCfgEol[] = "\r\n";

void *PlatformCfgOpenRead(const char *path) {
    // CreateFileA refuses a folder without FILE_FLAG_BACKUP_SEMANTICS.
    HANDLE h =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

long PlatformCfgRead(void *file, char *buf, size_t n) {
    DWORD got = 0;
    if (!::ReadFile(static_cast<HANDLE>(file), buf, DWORD(n), &got, nullptr)) return -1;
    return long(got);
}

void PlatformCfgCloseRead(void *file) {
    if (file) CloseHandle(static_cast<HANDLE>(file));
}

bool PlatformCfgSaveBegin(const char *path, CfgSave &save) {
    if (!path || !*path) return false;
    save.target = path;
    DWORD attr = GetFileAttributesA(path);
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A symbolic link stays: the file it finally names is the one replaced.
        HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            char finalPath[MAX_PATH + 8];
            DWORD n =
                GetFinalPathNameByHandleA(h, finalPath, sizeof finalPath, FILE_NAME_NORMALIZED);
            CloseHandle(h);
            if (n > 0 && n < sizeof finalPath) {
                save.target = finalPath;
                attr = GetFileAttributesA(finalPath);
            }
        }
    }
    if (attr != INVALID_FILE_ATTRIBUTES &&
        (attr & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        save.temp.Format("%s.%lu-%u.tmp", static_cast<const char *>(save.target),
                         GetCurrentProcessId(), serial++);
        HANDLE h = CreateFileA(save.temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            save.file = h;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    save.temp = "";
    return false;
}

bool PlatformCfgSaveWrite(CfgSave &save, const char *data, size_t n) {
    while (n > 0) {
        DWORD chunk = n > 0x40000000u ? 0x40000000u : DWORD(n);
        DWORD put = 0;
        if (!WriteFile(static_cast<HANDLE>(save.file), data, chunk, &put, nullptr) || put == 0)
            return false;
        data += put;
        n -= put;
    }
    return true;
}

bool PlatformCfgSaveCommit(CfgSave &save) {
    HANDLE h = static_cast<HANDLE>(save.file);
    bool ok = FlushFileBuffers(h) != 0;
    ok = CloseHandle(h) != 0 && ok;
    save.file = nullptr;
    if (!ok ||
        !MoveFileExA(save.temp, save.target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(save.temp);
        save.temp = "";
        return false;
    }
    save.temp = "";
    return true;
}

void PlatformCfgSaveAbort(CfgSave &save) {
    if (save.file) CloseHandle(static_cast<HANDLE>(save.file));
    save.file = nullptr;
    if (save.temp.Length()) DeleteFileA(save.temp);
    save.temp = "";
}

} // namespace Quorvel::detail
