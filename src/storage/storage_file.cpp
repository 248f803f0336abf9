// The file stream over the C runtime's buffered files, and the mode text its platform opens with.
#include <cstring>
#include <new>

#include "error_codes.h"
#include "qv_storage.h"
#include "storage_os.h"
#include "storage_text.h"

namespace Quorvel {

namespace detail {

// One open file shared by copies of a stream; the last owner closes it.
//
// Record formats skip separators by reading one byte too many and seeking back to it. A seek of
// the C runtime costs a system call, so a seek back over exactly the last byte read is done by
// pushing that byte back instead. A pushed-back byte must be resolved by a real seek before the
// stream writes, as the C runtime wants a positioning call between reading and writing.
struct tFileShare {
    std::FILE *file;
    unsigned owners;
    int lastRead;    // the last byte ReadBytes returned, -1 when another operation came after it
    bool pushedBack; // a byte was pushed back and no real positioning has happened since
};

bool StreamModeWithFlag(const char *mode, char flag, char *out, std::size_t outSize) {
    if (!mode || !mode[0] || std::strchr(mode, flag)) return false;
    const std::size_t length = std::strlen(mode);
    if (length + 2 > outSize) return false;
    out[0] = mode[0];
    out[1] = flag;
    std::memcpy(out + 2, mode + 1, length); // the rest and its terminator
    return true;
}

} // namespace detail

namespace {

const char kModule[] = "osstorage";

} // namespace

cFileIO::cFileIO(const cFileIO &other)
    : iDataIO(other), _path(other._path), _share(other._share), _status(other._status) {
    if (_share) ++_share->owners;
}

cFileIO &cFileIO::operator=(const cFileIO &other) {
    if (&other == this || other._share == _share) {
        _path = other._path;
        _status = other._status;
        return *this;
    }
    // The target's share goes; were it the last owner, the file would otherwise stay open with
    // nobody left to close it.
    _Release();
    _share = other._share;
    if (_share) ++_share->owners;
    _path = other._path;
    _status = other._status;
    return *this;
}

cFileIO::~cFileIO() {
    Close();
}

void cFileIO::_Release() {
    if (!_share) return;
    if (--_share->owners == 0) {
        std::fclose(_share->file);
        delete _share;
    }
    _share = nullptr;
}

bool cFileIO::Open(const char *path, const char *mode) {
    if (_share) Close();
    _status.Reset();
    detail::tFileShare *share = new (std::nothrow) detail::tFileShare{nullptr, 1, -1, false};
    if (!share)
        return QV_FAIL(&_status, detail::kErrMemory, "Failed to allocate %d bytes",
                       static_cast<int>(sizeof(detail::tFileShare)));
    share->file = path && mode ? detail::PlatformOpenStreamFile(path, mode) : nullptr;
    if (!share->file) {
        delete share;
        return QV_FAIL(&_status, detail::kErrFile, "Files to open file [%s] with mode [%s]",
                       path ? path : "", mode ? mode : "");
    }
    _share = share;
    _path = path;
    return true;
}

bool cFileIO::Close() {
    if (!_share) return true;
    detail::tFileShare *share = _share;
    _share = nullptr;
    if (--share->owners != 0) return true;
    const int rc = std::fclose(share->file);
    delete share;
    if (rc != 0)
        return QV_FAIL(&_status, detail::kErrFile, "Files to close file [%s]",
                       static_cast<const char *>(_path));
    return true;
}

// The sticky check, then the open file.
bool cFileIO::_Check() {
    if (_status.IsError()) return false;
    if (!_share) return QV_FAIL(&_status, detail::kErrFile, "No file opened");
    return true;
}

// Before a write or a flush: a pushed-back byte is turned into a real seek to the same position.
bool cFileIO::_ResolvePushBack() {
    _share->lastRead = -1;
    if (!_share->pushedBack) return true;
    _share->pushedBack = false;
    const long long at = detail::PlatformTellStreamFile(_share->file);
    return at >= 0 &&
           detail::PlatformSeekStreamFile(_share->file, static_cast<unsigned long long>(at));
}

unsigned int cFileIO::Tell() {
    if (!_Check()) return 0;
    const long long position = detail::PlatformTellStreamFile(_share->file);
    if (position < 0 || position > 4294967295ll) return 4294967295u;
    return static_cast<unsigned>(position);
}

bool cFileIO::Seek(unsigned int position) {
    if (!_Check()) return false;
    const int last = _share->lastRead;
    _share->lastRead = -1;
    if (last >= 0) {
        const long long at = detail::PlatformTellStreamFile(_share->file);
        if (at >= 1 && static_cast<unsigned long long>(at) == position + 1ull &&
            std::ungetc(last, _share->file) == last) {
            _share->pushedBack = true;
            return true;
        }
    }
    _share->pushedBack = false;
    if (!detail::PlatformSeekStreamFile(_share->file, position))
        return QV_FAIL(&_status, detail::kErrFile, "Failed to seek file [%s] into position %u",
                       static_cast<const char *>(_path), position);
    return true;
}

bool cFileIO::WriteBytes(unsigned int count, const unsigned char *data) {
    if (!_Check()) return false;
    if (count == 0) return true;
    const bool ok =
        _ResolvePushBack() && (count == 1 ? std::putc(data[0], _share->file) != EOF
                                          : std::fwrite(data, 1, count, _share->file) == count);
    if (!ok)
        return QV_FAIL(&_status, detail::kErrFile, "Failed to write [%u] bytes to file [%s]", count,
                       static_cast<const char *>(_path));
    return true;
}

bool cFileIO::WriteUlong(unsigned int value) {
    if (!_Check()) return false;
    char text[detail::kDecimalTextMax];
    char *end = text + sizeof text;
    const char *start = detail::DecimalTextUlong(value, end);
    const size_t n = static_cast<size_t>(end - start);
    if (!_ResolvePushBack() || std::fwrite(start, 1, n, _share->file) != n)
        return QV_FAIL(&_status, detail::kErrFile, "Failed to write tUlong to file [%s]",
                       static_cast<const char *>(_path));
    return true;
}

bool cFileIO::WriteLong(int value) {
    if (!_Check()) return false;
    char text[detail::kDecimalTextMax];
    char *end = text + sizeof text;
    const char *start = detail::DecimalTextLong(value, end);
    const size_t n = static_cast<size_t>(end - start);
    if (!_ResolvePushBack() || std::fwrite(start, 1, n, _share->file) != n)
        return QV_FAIL(&_status, detail::kErrFile, "Failed to write int to file [%s]",
                       static_cast<const char *>(_path));
    return true;
}

bool cFileIO::WriteFlush() {
    if (!_Check()) return false;
    if (!_ResolvePushBack() || std::fflush(_share->file) != 0)
        return QV_FAIL(&_status, detail::kErrFile, "Failed to flush data into file [%s]",
                       static_cast<const char *>(_path));
    return true;
}

bool cFileIO::ReadBytes(unsigned int count, unsigned char *data) {
    if (!_Check()) return false;
    _share->lastRead = -1;
    if (count == 0) return true;
    if (count == 1) {
        const int c = std::getc(_share->file);
        if (c != EOF) {
            data[0] = static_cast<unsigned char>(c);
            _share->lastRead = c;
            return true;
        }
    } else if (std::fread(data, 1, count, _share->file) == count) {
        _share->lastRead = data[count - 1];
        return true;
    }
    return QV_FAIL(&_status, detail::kErrFile, "Failed to read %u bytes from file [%s]", count,
                   static_cast<const char *>(_path));
}

// Reads white space, an optional sign and decimal digits, as formatted input does, but in the
// "C" locale's terms whatever the process locale says, and with a magnitude that saturates at
// 4294967296 instead of overflowing. The byte after the digits is put back.
bool cFileIO::_ReadDecimal(bool isSigned, unsigned int &magnitude, bool &negative) {
    std::FILE *f = _share->file;
    _share->lastRead = -1;
    int c;
    do
        c = std::getc(f);
    while (detail::IsNumberSpace(c));
    negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::getc(f);
    }
    if (!detail::IsDigit(c) || (negative && !isSigned)) {
        if (c != EOF) std::ungetc(c, f);
        return false;
    }
    unsigned long long v = 0;
    do {
        v = detail::AddDigitSaturated(v, static_cast<unsigned>(c - '0'), 4294967295ull);
        c = std::getc(f);
    } while (detail::IsDigit(c));
    if (c != EOF) std::ungetc(c, f);
    magnitude = v > 4294967295ull ? 4294967295u : static_cast<unsigned>(v);
    return true;
}

bool cFileIO::ReadUlong(unsigned int &value) {
    if (!_Check()) return false;
    unsigned magnitude;
    bool negative;
    if (!_ReadDecimal(false, magnitude, negative))
        return QV_FAIL(&_status, detail::kErrFile, "Failed to read tUlong from file [%s]",
                       static_cast<const char *>(_path));
    value = magnitude;
    return true;
}

bool cFileIO::ReadLong(int &value) {
    if (!_Check()) return false;
    unsigned magnitude;
    bool negative;
    if (!_ReadDecimal(true, magnitude, negative))
        return QV_FAIL(&_status, detail::kErrFile, "Failed to read int from file [%s]",
                       static_cast<const char *>(_path));
    if (negative)
        value = magnitude >= 2147483648u ? -2147483647 - 1 : -static_cast<int>(magnitude);
    else
        value = magnitude > 2147483647u ? 2147483647 : static_cast<int>(magnitude);
    return true;
}

bool cFileIO::IsEof() {
    if (!_share) return QV_FAIL(&_status, detail::kErrFile, "No file opened");
    return std::feof(_share->file) != 0;
}

} // namespace Quorvel
