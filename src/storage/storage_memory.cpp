// The memory stream: bytes in a cDataBuf, numbers as decimal text.
#include <cstring>

#include "error_codes.h"
#include "qv_storage.h"
#include "storage_text.h"

namespace Quorvel {

namespace {

const char kModule[] = "osstorage";

// The memory stream's buffers grow by this step.
const unsigned kMemoryStep = 16;

// A number text holds at most this many bytes: 10 digits and a sign, or 11 digits, so that the
// value can be converted without overflow and a 12th digit is left for the next read.
const unsigned kMaxNumberBytes = 11;

} // namespace

cMemoryIO::cMemoryIO() : _buffer(kMemoryStep) {}

cMemoryIO::cMemoryIO(cMemoryIO &other)
    : iDataIO(other), _buffer(other._buffer, kMemoryStep), _position(other._position),
      _status(other._status) {
    // The source has lost its bytes; a position beyond its now empty buffer would let its next
    // write leave a gap of bytes that were never written.
    other._position = 0;
}

cMemoryIO &cMemoryIO::operator=(cMemoryIO &other) {
    if (&other == this) return *this;
    _buffer = other._buffer;
    _position = other._position;
    _status = other._status;
    other._position = 0;
    return *this;
}

void cMemoryIO::SetBuffer(cDataBuf &buf) {
    _buffer = buf;
    _position = 0;
    _status.Reset();
}

void cMemoryIO::Reset() {
    _buffer.SetLength(0);
    _position = 0;
}

unsigned int cMemoryIO::Tell() {
    if (!_Check()) return 0;
    return _position;
}

bool cMemoryIO::Seek(unsigned int position) {
    if (!_Check()) return false;
    if (position > _buffer.GetLength())
        return QV_FAIL(&_status, detail::kErrFile, "Failed to seek to position %u", position);
    _position = position;
    return true;
}

bool cMemoryIO::WriteBytes(unsigned int count, const unsigned char *data) {
    if (!_Check()) return false;
    if (count == 0) return true;
    // An end past 32 bits cannot be held; like a refused allocation it returns false only.
    if (count > ~0u - _position) return false;
    const unsigned end = _position + count;
    if (end > _buffer.GetSize() && !_buffer.SetSize(end)) return false;
    unsigned char *to = static_cast<unsigned char *>(_buffer) + _position;
    if (count == 1)
        *to = *data;
    else
        std::memcpy(to, data, count);
    if (end > _buffer.GetLength()) _buffer.SetLength(end);
    _position = end;
    return true;
}

bool cMemoryIO::WriteUlong(unsigned int value) {
    char text[detail::kDecimalTextMax];
    char *end = text + sizeof text;
    const char *start = detail::DecimalTextUlong(value, end);
    return WriteBytes(static_cast<unsigned>(end - start),
                      reinterpret_cast<const unsigned char *>(start));
}

bool cMemoryIO::WriteLong(int value) {
    char text[detail::kDecimalTextMax];
    char *end = text + sizeof text;
    const char *start = detail::DecimalTextLong(value, end);
    return WriteBytes(static_cast<unsigned>(end - start),
                      reinterpret_cast<const unsigned char *>(start));
}

bool cMemoryIO::WriteFlush() {
    return _Check();
}

bool cMemoryIO::ReadBytes(unsigned int count, unsigned char *data) {
    if (!_Check()) return false;
    if (count > _buffer.GetLength() - _position)
        return QV_FAIL(&_status, detail::kErrFile, "Failed to read %u bytes", count);
    const unsigned char *from = static_cast<unsigned char *>(_buffer) + _position;
    // Record formats read their separators one byte at a time.
    if (count == 1)
        *data = *from;
    else if (count)
        std::memcpy(data, from, count);
    _position += count;
    return true;
}

bool cMemoryIO::ReadUlong(unsigned int &value) {
    if (!_Check()) return false;
    const unsigned char *p = static_cast<unsigned char *>(_buffer) + _position;
    const unsigned avail = _buffer.GetLength() - _position;
    const unsigned limit = avail < kMaxNumberBytes ? avail : kMaxNumberBytes;
    unsigned taken = 0;
    unsigned long long v = 0;
    while (taken < limit && detail::IsDigit(p[taken]))
        v = v * 10 + (p[taken++] - '0');
    if (taken == 0) return QV_FAIL(&_status, detail::kErrFile, "Failed to read tUlong");
    value = v > 4294967295ull ? 4294967295u : static_cast<unsigned>(v);
    _position += taken;
    return true;
}

bool cMemoryIO::ReadLong(int &value) {
    if (!_Check()) return false;
    const unsigned char *p = static_cast<unsigned char *>(_buffer) + _position;
    const unsigned avail = _buffer.GetLength() - _position;
    const unsigned limit = avail < kMaxNumberBytes ? avail : kMaxNumberBytes;
    unsigned taken = 0;
    const bool negative = limit > 0 && p[0] == '-';
    if (negative) taken = 1;
    unsigned long long v = 0;
    while (taken < limit && detail::IsDigit(p[taken]))
        v = v * 10 + (p[taken++] - '0');
    if (taken == 0) return QV_FAIL(&_status, detail::kErrFile, "Failed to read int");
    if (negative && taken == 1) {
        // A sign with no digit converts nothing: the value is 0 and the read fails.
        value = 0;
        return QV_FAIL(&_status, detail::kErrFile, "Failed to read int");
    }
    if (negative)
        value = v >= 2147483648ull ? -2147483647 - 1 : -static_cast<int>(v);
    else
        value = v > 2147483647ull ? 2147483647 : static_cast<int>(v);
    _position += taken;
    return true;
}

bool cMemoryIO::IsEof() {
    return _Check() && _position == _buffer.GetLength();
}

} // namespace Quorvel
