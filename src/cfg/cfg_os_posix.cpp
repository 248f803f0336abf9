// POSIX file primitives of the configuration reader and writer.
#include "cfg_os.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Quorvel::detail {

const char kCfgEol[] = "\n";

namespace {

intptr_t Fd(void *file) {
    return reinterpret_cast<intptr_t>(file) - 1;
}
void *Handle(int fd) {
    return reinterpret_cast<void *>(static_cast<intptr_t>(fd) + 1);
}

// Follows a chain of symbolic links to the file it finally names (which may not exist yet),
// so that a save replaces that file and leaves the links in place.
cQV_String ResolveLinks(const char *path) {
    cQV_String cur(path);
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(cur, &st) != 0 || !S_ISLNK(st.st_mode)) break;
        char target[PATH_MAX];
        ssize_t n = readlink(cur, target, sizeof target - 1);
        if (n <= 0) break;
        target[n] = 0;
        if (target[0] == '/') {
            cur = target;
            continue;
        }
        const char *slash = strrchr(cur, '/');
        if (!slash) {
            cur = target;
            continue;
        }
        cQV_String dir;
        unsigned dirLen = unsigned(slash - static_cast<const char *>(cur)) + 1;
        char *d = dir.GetBuffer(dirLen);
        if (!d) break;
        memcpy(d, cur, dirLen);
        d[dirLen] = 0;
        cur = dir + target;
    }
    return cur;
}

} // namespace

void *PlatformCfgOpenRead(const char *path) {
    int fd;
    do
        fd = open(path, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        return nullptr;
    }
    return Handle(fd);
}

long PlatformCfgRead(void *file, char *buf, size_t n) {
    for (;;) {
        ssize_t r = read(int(Fd(file)), buf, n);
        if (r >= 0) return long(r);
        if (errno != EINTR) return -1;
    }
}

void PlatformCfgCloseRead(void *file) {
    if (file) close(int(Fd(file)));
}

bool PlatformCfgSaveBegin(const char *path, CfgSave &save) {
    if (!path || !*path) return false;
    save.target = ResolveLinks(path);
    // A folder is never replaced, and a file that may not be written is not replaced behind
    // its owner's back.
    struct stat st;
    if (stat(save.target, &st) == 0 && (S_ISDIR(st.st_mode) || access(save.target, W_OK) != 0))
        return false;
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        save.temp.Format("%s.%ld-%u.tmp", static_cast<const char *>(save.target), long(getpid()),
                         serial++);
        // Mode 0666 lets the umask decide, as for any newly created file; an existing target's
        // mode is copied over at commit.
        int fd = open(save.temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            save.file = Handle(fd);
            return true;
        }
        if (errno != EEXIST && errno != EINTR) break;
    }
    save.temp = "";
    return false;
}

bool PlatformCfgSaveWrite(CfgSave &save, const char *data, size_t n) {
    while (n > 0) {
        ssize_t w = write(int(Fd(save.file)), data, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        n -= size_t(w);
    }
    return true;
}

bool PlatformCfgSaveCommit(CfgSave &save) {
    int fd = int(Fd(save.file));
    struct stat st;
    if (stat(save.target, &st) == 0) {
        // Ownership can only be kept by a privileged writer; the mode always is.
        if (fchown(fd, st.st_uid, st.st_gid) != 0) {
        }
        if (fchmod(fd, st.st_mode & 07777) != 0) {
            PlatformCfgSaveAbort(save);
            return false;
        }
    }
    bool ok = fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    save.file = nullptr;
    if (!ok || rename(save.temp, save.target) != 0) {
        unlink(save.temp);
        save.temp = "";
        return false;
    }
    save.temp = "";
    // Make the rename itself durable; not every file system can sync a folder, and the data is
    // already in place, so a failure here is not reported.
    cQV_String dir(save.target);
    const char *slash = strrchr(dir, '/');
    if (slash) dir[int(slash - static_cast<const char *>(dir)) + (slash == dir ? 1 : 0)] = 0;
    int dfd = open(slash ? static_cast<const char *>(dir) : ".", O_RDONLY | O_CLOEXEC);
    if (dfd >= 0) {
        if (fsync(dfd) != 0) {
        }
        close(dfd);
    }
    return true;
}

void PlatformCfgSaveAbort(CfgSave &save) {
    if (save.file) close(int(Fd(save.file)));
    save.file = nullptr;
    if (save.temp.Length()) unlink(save.temp);
    save.temp = "";
}

} // namespace Quorvel::detail
