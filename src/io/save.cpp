// The whole-file save on top of the file seam: which targets are replaced and which are
// written in place, the temporary file's name, and the fallback when a replace cannot be had.
#include "io_save.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>

#include "qv_file.h"

namespace Quorvel::detail {

namespace {

void *const kNoFile = reinterpret_cast<void *>(-1);

// A different seed for every attempt in this process; across processes the clock differs, and
// a name in use is found and another tried.
unsigned long long NextSeed() {
    static std::atomic<unsigned long long> serial{0};
    unsigned long long s = serial++ * 0x9E3779B97F4A7C15ull;
    s ^= static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    s ^= reinterpret_cast<unsigned long long>(&serial) >> 4;
    return s;
}

} // namespace

IoSaveMethod ChooseSaveMethod(const tIoSaveTarget &t) {
    switch (t.kind) {
    case IoSaveKind::Missing:
        return IoSaveMethod::Replace;
    case IoSaveKind::Directory:
        return IoSaveMethod::Refuse;
    case IoSaveKind::Special:
        return t.mayWrite ? IoSaveMethod::InPlace : IoSaveMethod::Refuse;
    case IoSaveKind::Regular:
        break;
    }
    if (!t.mayWrite) return IoSaveMethod::Refuse;
    if (t.links > 1 || !t.ownerKept) return IoSaveMethod::InPlace;
    return IoSaveMethod::Replace;
}

cQV_String SaveTempPath(const char *target, unsigned long long seed) {
    const char *leaf = target;
    for (const char *p = target; *p; ++p)
        if (*p == '/' || *p == '\\') leaf = p + 1;
    size_t n = strlen(leaf);
    if (n < 6) n = 6;
    if (n > 16) n = 16;
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    char name[17];
    name[0] = '.';
    for (size_t i = 1; i < n; ++i) {
        name[i] = kDigits[seed % 36];
        seed /= 36;
        if (seed == 0) seed = 0x2545F4914F6CDD1Dull * (i + 1);
    }
    name[n] = 0;
    cQV_String out;
    size_t dir = size_t(leaf - target);
    char *buf = out.GetBuffer(unsigned(dir + n));
    if (!buf) return out;
    memcpy(buf, target, dir);
    memcpy(buf + dir, name, n + 1);
    return out;
}

int SaveRetryDelay(int attempt) {
    // 10, 20, 40, 80, 160, 320, 320 ms: about one second, then give up.
    if (attempt < 1 || attempt > 7) return -1;
    int ms = 10 << (attempt - 1);
    return ms > 320 ? 320 : ms;
}

bool tIoSave::Begin(const char *path) {
    Abort();
    _method = IoSaveMethod::Refuse;
    if (!path || !*path || !PlatformSaveTarget(path, _target)) return false;
    _method = ChooseSaveMethod(_target);
    if (_method == IoSaveMethod::Refuse) return false;
    if (_method == IoSaveMethod::InPlace) {
        _file = PlatformSaveOpenInPlace(_target);
        return _file != kNoFile;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        _temp = SaveTempPath(_target.path, NextSeed());
        if (!_temp.Length()) break;
        bool taken = false;
        _file = PlatformSaveCreateTemp(_target, _temp, taken);
        if (_file != kNoFile) return true;
        if (!taken) break;
    }
    _temp = "";
    return false;
}

bool tIoSave::Write(const char *data, size_t n) {
    if (_file == kNoFile) return false;
    while (n > 0) {
        unsigned chunk = n > 0x40000000u ? 0x40000000u : unsigned(n);
        unsigned put = 0;
        if (!PlatformFileWrite(_file, reinterpret_cast<const unsigned char *>(data), chunk, put) ||
            put == 0)
            return false;
        data += put;
        n -= put;
    }
    return true;
}

bool tIoSave::_CopyInPlace() {
    void *in = PlatformFileOpen(_temp, eFileOpenRead, eFileShareRead | eFileShareWrite);
    if (in == kNoFile) return false;
    _file = PlatformSaveOpenInPlace(_target);
    bool ok = _file != kNoFile;
    static const unsigned kBlock = 0x10000;
    unsigned char *buf = ok ? new (std::nothrow) unsigned char[kBlock] : nullptr;
    ok = ok && buf;
    for (unsigned got = 0; ok;) {
        ok = PlatformFileRead(in, buf, kBlock, got);
        if (!ok || got == 0) break;
        ok = Write(reinterpret_cast<const char *>(buf), got);
    }
    delete[] buf;
    PlatformFileClose(in);
    if (_file != kNoFile) {
        ok = PlatformSaveFinishInPlace(_file, _target) && ok;
        _file = kNoFile;
    }
    return ok;
}

bool tIoSave::Commit() {
    if (_file == kNoFile) return false;
    if (_method == IoSaveMethod::InPlace) {
        bool ok = PlatformSaveFinishInPlace(_file, _target);
        _file = kNoFile;
        return ok;
    }
    void *file = _file;
    _file = kNoFile;
    IoReplace r = PlatformSaveReplace(file, _temp, _target);
    bool ok = r == IoReplace::Done;
    // Another process holds the file so that it cannot be replaced, but may let it be written:
    // the text goes into the file itself, as a plain open for writing would put it.
    if (r == IoReplace::Busy) ok = _CopyInPlace();
    if (r != IoReplace::Done) PlatformDeleteFile(_temp);
    _temp = "";
    return ok;
}

void tIoSave::Abort() {
    if (_file != kNoFile) PlatformFileClose(_file);
    _file = kNoFile;
    if (_temp.Length()) PlatformDeleteFile(_temp);
    _temp = "";
}

} // namespace Quorvel::detail
