// File-system primitives over POSIX calls. A file handle carries the descriptor.
#include "io_os.h"
#include "string_util.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <new>

namespace Quorvel::detail {

const char kIoDirSep = '/';
const int kIoBadNameError = EINVAL;

namespace {

// Both '/' and backslash separate folders in the paths callers give; the system knows
// only '/'. Paths without a backslash are passed through without a copy.
class NativePath {
public:
    explicit NativePath(const char *path) : _path(path) {
        if (!strchr(path, '\\')) return;
        size_t n = strlen(path);
        char *p = n < sizeof _small ? _small : (_heap = new (std::nothrow) char[n + 1]);
        if (!p) return; // no memory: the text goes as it is
        for (size_t i = 0; i <= n; ++i)
            p[i] = path[i] == '\\' ? '/' : path[i];
        _path = p;
    }
    ~NativePath() { delete[] _heap; }
    NativePath(const NativePath &) = delete;
    NativePath &operator=(const NativePath &) = delete;
    operator const char *() const { return _path; }

private:
    const char *_path;
    char *_heap = nullptr;
    char _small[256];
};

inline int fdOf(void *handle) {
    return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

IoEntry kindOf(const struct stat &st) {
    if (S_ISLNK(st.st_mode)) return IoEntry::Link;
    if (S_ISDIR(st.st_mode)) return IoEntry::Directory;
    return IoEntry::File;
}

} // namespace

// ---- File handles ----

void *PlatformFileOpen(const char *name, int mode, int /*share: POSIX has no share modes*/) {
    int flags = O_CLOEXEC;
    const bool read = mode & eFileOpenRead, write = mode & eFileOpenWrite;
    if (read && write)
        flags |= O_RDWR;
    else if (write)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    if (mode & eFileOpenCreate) flags |= O_CREAT | O_TRUNC;
    int fd;
    do {
        fd = open(NativePath(name), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return reinterpret_cast<void *>(-1);
    // A read-only open succeeds on a directory here; the handle is for files only.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        return reinterpret_cast<void *>(-1);
    }
    return reinterpret_cast<void *>(static_cast<intptr_t>(fd));
}

void PlatformFileClose(void *handle) {
    close(fdOf(handle));
}

bool PlatformFileRead(void *handle, unsigned char *buffer, unsigned int count, unsigned int &read) {
    ssize_t n;
    do {
        n = ::read(fdOf(handle), buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    read = static_cast<unsigned int>(n);
    return true;
}

bool PlatformFileWrite(void *handle, const unsigned char *buffer, unsigned int count,
                       unsigned int &written) {
    // A file write may be cut short (signal, quota); the rest is written on.
    written = 0;
    while (written < count) {
        ssize_t n = ::write(fdOf(handle), buffer + written, count - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        written += static_cast<unsigned int>(n);
    }
    return true;
}

bool PlatformFileFlush(void *handle) {
    return fsync(fdOf(handle)) == 0;
}

long long PlatformFileSeek(void *handle, long long offset, eQV_FileSeek origin) {
    int whence = origin == eFileSeekEnd       ? SEEK_END
                 : origin == eFileSeekCurrent ? SEEK_CUR
                                              : SEEK_SET;
    off_t pos = lseek(fdOf(handle), static_cast<off_t>(offset), whence);
    return pos < 0 ? -1 : static_cast<long long>(pos);
}

// ---- Entries ----

IoEntry PlatformEntryFollow(const char *path) {
    struct stat st;
    if (stat(NativePath(path), &st) != 0) return IoEntry::Missing;
    return kindOf(st);
}

IoEntry PlatformEntryNoFollow(const char *path) {
    struct stat st;
    if (lstat(NativePath(path), &st) != 0) return IoEntry::Missing;
    return kindOf(st);
}

bool PlatformCreateDirectory(const char *path) {
    return mkdir(NativePath(path), 0777) == 0;
}
bool PlatformRemoveDirectory(const char *path) {
    return rmdir(NativePath(path)) == 0;
}
bool PlatformDeleteFile(const char *path) {
    return unlink(NativePath(path)) == 0;
}

bool PlatformRemoveLink(const char *path, bool &dirLink) {
    dirLink = false;
    return unlink(NativePath(path)) == 0; // removes the link itself, never its target
}

// ---- Directory search ----

namespace {

struct Search {
    DIR *dir;
    char *pattern; // fnmatch form: only '*' and '?' are wildcards
    int dots;      // how many of ".", ".." are still to be reported first
};

// Escapes every fnmatch special byte except '*' and '?', which are the only
// wildcards a search pattern has. "*.*" keeps the meaning Windows gives it: every
// name, with or without a dot.
char *toFnmatch(const char *pattern) {
    if (strcmp(pattern, "*.*") == 0) pattern = "*";
    size_t n = strlen(pattern);
    char *out = new (std::nothrow) char[2 * n + 1];
    if (!out) return nullptr;
    char *o = out;
    for (const char *p = pattern; *p; ++p) {
        if (*p == '[' || *p == ']' || *p == '\\') *o++ = '\\';
        *o++ = *p;
    }
    *o = 0;
    return out;
}

bool matches(const Search &s, const char *name) {
    return fnmatch(s.pattern, name, 0) == 0;
}

// The next matching name; "." and ".." come first (as the system gives them on
// Windows), whatever order readdir has.
bool nextName(Search &s, cQV_String &name) {
    while (s.dots < 2) {
        const char *dot = s.dots == 0 ? "." : "..";
        ++s.dots;
        if (matches(s, dot)) {
            name = dot;
            return true;
        }
    }
    for (;;) {
        errno = 0;
        struct dirent *e = readdir(s.dir);
        if (!e) return false;
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        if (matches(s, e->d_name)) {
            name = e->d_name;
            return true;
        }
    }
}

} // namespace

void *PlatformFindFirst(const char *search, cQV_String &name) {
    const char *sep = nullptr;
    for (const char *p = search; *p; ++p)
        if (*p == '/' || *p == '\\') sep = p;
    cQV_String folder;
    const char *pattern = search;
    if (sep) {
        size_t n = static_cast<size_t>(sep - search);
        if (n == 0) {
            folder = "/";
        } else {
            if (!detail::AssignBytes(folder, search, n)) return nullptr;
        }
        pattern = sep + 1;
    } else {
        folder = ".";
    }
    char *fnPattern = toFnmatch(pattern);
    Search *s = fnPattern ? new (std::nothrow) Search{nullptr, fnPattern, 0} : nullptr;
    if (!s) {
        delete[] fnPattern;
        return nullptr;
    }
    int fd = open(NativePath(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    s->dir = fd < 0 ? nullptr : fdopendir(fd);
    if (!s->dir) {
        if (fd >= 0) close(fd);
        delete[] s->pattern;
        delete s;
        return nullptr;
    }
    cQV_String first;
    if (!nextName(*s, first)) {
        PlatformFindClose(s);
        errno = ENOENT;
        return nullptr;
    }
    name = first;
    return s;
}

bool PlatformFindNext(void *search, cQV_String &name) {
    return nextName(*static_cast<Search *>(search), name);
}

void PlatformFindClose(void *search) {
    Search *s = static_cast<Search *>(search);
    closedir(s->dir);
    delete[] s->pattern;
    delete s;
}

// ---- File times ----

bool PlatformGetFileTime(const char *path, unsigned int &time) {
    struct stat st;
    if (stat(NativePath(path), &st) != 0) return false;
    time = static_cast<unsigned int>(st.st_mtime);
    return true;
}

bool PlatformSetFileTime(const char *path, unsigned int time) {
    struct timespec ts[2];
    ts[0].tv_sec = static_cast<time_t>(time);
    ts[0].tv_nsec = 0;
    ts[1] = ts[0];
    return utimensat(AT_FDCWD, NativePath(path), ts, 0) == 0;
}

// ---- Environment and folders ----

bool PlatformSetEnv(const char *name, const char *value) {
    return setenv(name, value, 1) == 0;
}

bool PlatformGetTempDir(cQV_String &dir) {
    const char *t = getenv("TMPDIR");
    dir = (t && t[0]) ? t : "/tmp/";
    return true;
}

const char *PlatformTempDirFallback() {
    return "/tmp/";
}

// ---- Drive mapping: POSIX has no drive letters and no mapped network drives ----

bool PlatformDriveSubstitute(const char *, cQV_String &) {
    return false;
}

cQV_String PlatformFullPath(const char *path) {
    return cQV_String(path);
}

int PlatformUniversalName(const char *, cQV_String &) {
    return 2250; // not a network connection
}

// ---- Console ----

namespace {

struct Console {
    bool background; // a background job of the terminal: no key, the terminal untouched
    bool terminal;
    bool echoSelf; // the terminal does not echo by itself: the key is echoed on read
    struct termios saved;
};

} // namespace

void *PlatformConsoleOpen() {
    Console *c = new (std::nothrow) Console();
    if (!c) return nullptr;
    c->terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &c->saved) == 0;
    // Changing the mode of the controlling terminal or reading from it stops a background
    // job (SIGTTOU, SIGTTIN); the keys belong to the foreground job anyway. A terminal that
    // is not the controlling one has no foreground job (tcgetpgrp fails) and is used.
    const pid_t foreground = c->terminal ? tcgetpgrp(STDIN_FILENO) : -1;
    c->background = foreground >= 0 && foreground != getpgrp();
    if (c->background) c->terminal = false;
    if (c->terminal) {
        // One key without Enter: non-canonical input. A terminal that echoes keeps
        // doing so (each key shows once, as typed); one that does not gets the key
        // echoed when it is read.
        struct termios raw = c->saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        c->echoSelf = !(c->saved.c_lflag & ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    return c;
}

bool PlatformConsoleKeyReady(void *console) {
    if (!console || static_cast<Console *>(console)->background) return false;
    struct pollfd p;
    p.fd = STDIN_FILENO;
    p.events = POLLIN;
    p.revents = 0;
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    // End of a pipe (POLLHUP) counts as ready: the read then finds no byte.
    return r > 0 && (p.revents & (POLLIN | POLLHUP));
}

int PlatformConsoleReadKey(void *console) {
    if (!console) return -1;
    unsigned char key;
    ssize_t n;
    do {
        n = ::read(STDIN_FILENO, &key, 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1) return -1;
    Console *c = static_cast<Console *>(console);
    if (c->terminal && c->echoSelf) {
        ssize_t w = ::write(STDIN_FILENO, &key, 1); // the terminal itself, not stdout
        (void)w;
    }
    return key;
}

void PlatformConsoleClose(void *console) {
    Console *c = static_cast<Console *>(console);
    if (!c) return;
    if (c->terminal) tcsetattr(STDIN_FILENO, TCSANOW, &c->saved);
    delete c;
}

// ---- Saving a file ----

const int kIoTextEnd = -1;
const char kIoLineEnd[] = "\n";

namespace {

void *handleOf(int fd) {
    return reinterpret_cast<void *>(static_cast<intptr_t>(fd));
}

bool inGroup(gid_t gid) {
    if (gid == getegid()) return true;
    int n = getgroups(0, nullptr);
    if (n <= 0) return false;
    gid_t *groups = new (std::nothrow) gid_t[size_t(n)];
    if (!groups) return false;
    n = getgroups(n, groups);
    bool found = false;
    for (int i = 0; i < n && !found; ++i)
        found = groups[i] == gid;
    delete[] groups;
    return found;
}

// The folder part of `path` with its final '/', or "" for a bare name.
cQV_String folderOf(const char *path) {
    const char *slash = strrchr(path, '/');
    cQV_String dir;
    if (!slash) return dir;
    detail::AssignBytes(dir, path, size_t(slash - path) + 1);
    return dir;
}

void fsyncFolderOf(const char *path) {
    cQV_String dir = folderOf(path);
    int dfd = open(dir.Length() ? static_cast<const char *>(dir) : ".",
                   O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;
    // Not every file system can sync a folder, and the data is in place already.
    if (fsync(dfd) != 0) {
    }
    close(dfd);
}

} // namespace

bool PlatformSaveTarget(const char *path, tIoSaveTarget &t) {
    t = tIoSaveTarget();
    cQV_String cur{static_cast<const char *>(NativePath(path))};
    // At most as many links as the system itself follows; more is a loop.
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st;
        if (lstat(cur, &st) != 0) {
            if (errno != ENOENT) return false;
            t.path = cur;
            t.kind = IoSaveKind::Missing;
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            char target[PATH_MAX];
            ssize_t n = readlink(cur, target, sizeof target - 1);
            if (n <= 0) return false;
            target[n] = 0;
            cur = target[0] == '/' ? cQV_String(target) : folderOf(cur) + target;
            continue;
        }
        t.path = cur;
        t.kind = S_ISDIR(st.st_mode)   ? IoSaveKind::Directory
                 : S_ISREG(st.st_mode) ? IoSaveKind::Regular
                                       : IoSaveKind::Special;
        t.links = static_cast<unsigned long>(st.st_nlink);
        t.uid = st.st_uid;
        t.gid = st.st_gid;
        t.mode = static_cast<unsigned long>(st.st_mode & 07777);
        t.mayWrite = t.kind == IoSaveKind::Directory || access(cur, W_OK) == 0;
        t.ownerKept =
            geteuid() == 0 || (st.st_uid == geteuid() && inGroup(static_cast<gid_t>(st.st_gid)));
        return true;
    }
    errno = ELOOP;
    return false;
}

void *PlatformSaveCreateTemp(const tIoSaveTarget &t, const char *temp, bool &taken) {
    taken = false;
    int fd;
    do {
        // Owner-only from the first moment: the text may be private until it has the
        // target's own permissions.
        fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        taken = errno == EEXIST;
        return reinterpret_cast<void *>(-1);
    }
    if (t.kind == IoSaveKind::Regular) {
        struct stat st;
        if (fstat(fd, &st) != 0 ||
            ((st.st_uid != t.uid || st.st_gid != t.gid) &&
             fchown(fd, static_cast<uid_t>(t.uid), static_cast<gid_t>(t.gid)) != 0)) {
            int e = errno;
            close(fd);
            unlink(temp);
            errno = e;
            return reinterpret_cast<void *>(-1);
        }
    }
    return handleOf(fd);
}

void *PlatformSaveOpenInPlace(const tIoSaveTarget &t) {
    int fd;
    do {
        fd = open(t.path, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? reinterpret_cast<void *>(-1) : handleOf(fd);
}

IoReplace PlatformSaveReplace(void *file, const char *temp, const tIoSaveTarget &t) {
    int fd = fdOf(file);
    mode_t mode = static_cast<mode_t>(t.mode);
    bool placeholder = false;
    if (t.kind == IoSaveKind::Missing) {
        // A new file gets the permissions any newly created file gets here (0666 less the
        // umask, or the folder's default access list): create it empty and read them back.
        // The umask itself cannot be read without changing it for every thread.
        int pfd = open(t.path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        struct stat st;
        if (pfd >= 0) {
            placeholder = true;
            bool ok = fstat(pfd, &st) == 0;
            close(pfd);
            if (!ok) {
                unlink(t.path);
                close(fd);
                return IoReplace::Failed;
            }
        } else if (errno != EEXIST || stat(t.path, &st) != 0) {
            close(fd);
            return IoReplace::Failed;
        }
        mode = st.st_mode & 07777;
    }
    bool ok = fchmod(fd, mode) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temp, t.path) == 0;
    if (!ok) {
        int e = errno;
        if (placeholder) unlink(t.path);
        errno = e;
        return IoReplace::Failed;
    }
    fsyncFolderOf(t.path);
    return IoReplace::Done;
}

bool PlatformSaveFinishInPlace(void *file, const tIoSaveTarget &t) {
    int fd = fdOf(file);
    bool ok = fsync(fd) == 0 || t.kind != IoSaveKind::Regular;
    return close(fd) == 0 && ok;
}

// ---- Advisory locks ----

void *PlatformLockFile(const char *path, unsigned waitMs) {
    int fd;
    do {
        fd = open(NativePath(path), O_RDWR | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    int *lock = new (std::nothrow) int(fd);
    for (unsigned waited = 0; lock; waited += 5) {
        if (fcntl(fd, F_SETLK, &fl) == 0) return lock;
        if ((errno != EACCES && errno != EAGAIN && errno != EINTR) || waited >= waitMs) break;
        usleep(5000);
    }
    int e = lock ? errno : ENOMEM;
    delete lock;
    close(fd);
    errno = e;
    return nullptr;
}

void PlatformUnlockFile(void *lock) {
    if (!lock) return;
    int *fd = static_cast<int *>(lock);
    close(*fd); // closing the descriptor releases the lock
    delete fd;
}

} // namespace Quorvel::detail
