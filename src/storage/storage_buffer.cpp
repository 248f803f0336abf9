// The growable byte block behind the memory stream.
#include <cstdlib>
#include <cstring>

#include "qv_storage.h"

namespace Quorvel {

namespace {

// SetSize divides by the step; a step of 0 would be a division by zero, so it counts as 1.
unsigned StepOf(unsigned step) {
    return step ? step : 1;
}

} // namespace

cDataBuf::cDataBuf(unsigned int step) : _step(StepOf(step)) {}

cDataBuf::cDataBuf(cDataBuf &other, unsigned int step)
    : _data(other._data), _step(StepOf(step)), _length(other._length), _size(other._size) {
    other._data = nullptr;
    other._length = 0;
    other._size = 0;
}

cDataBuf::cDataBuf(unsigned int length, unsigned char *data, unsigned int step)
    : _data(data), _step(StepOf(step)), _length(length), _size(length) {}

cDataBuf::~cDataBuf() {
    if (_data) std::free(_data);
}

cDataBuf &cDataBuf::operator=(cDataBuf &other) {
    if (&other == this) return *this;
    Clean();
    _data = other._data;
    _length = other._length;
    _size = other._size;
    other._data = nullptr;
    other._length = 0;
    other._size = 0;
    return *this;
}

bool cDataBuf::SetSize(unsigned int size) {
    unsigned n = size;
    if (const unsigned rest = n % _step) {
        // A size whose rounding would pass the 32-bit range is refused: a wrapped, smaller block
        // would let the caller's writes run past its end.
        if (n > ~0u - (_step - rest)) return false;
        n += _step - rest;
    }
    if (_size == 0) {
        if (n == 0) return true;
        unsigned char *block = static_cast<unsigned char *>(std::malloc(n));
        if (!block) return false;
        // An adopted block of length 0 (size 0) may still be non-null; it is replaced here.
        if (_data) std::free(_data);
        _data = block;
        _size = n;
        return true;
    }
    if (n == 0) {
        std::free(_data);
        _data = nullptr;
        _size = 0;
        _length = 0;
        return true;
    }
    unsigned char *block = static_cast<unsigned char *>(std::realloc(_data, n));
    if (!block) return false;
    _data = block;
    _size = n;
    if (_length > n) _length = n;
    return true;
}

// The slow path of SetLength: the length passes the size.
bool cDataBuf::_GrowLength(unsigned int length) {
    if (!SetSize(length)) return false;
    _length = length;
    return true;
}

bool cDataBuf::AddSegment(const unsigned char *src, unsigned int count) {
    if (count == 0) return true;
    if (count > ~0u - _length) return false;
    const unsigned need = _length + count;
    if (need > _size) {
        // Bytes of this very block stay valid across the reallocation by their offset.
        const bool own = _data && src >= _data && src < _data + _size;
        const size_t offset = own ? static_cast<size_t>(src - _data) : 0;
        if (!SetSize(need)) return false;
        if (own) src = _data + offset;
    }
    std::memmove(_data + _length, src, count);
    _length = need;
    return true;
}

void cDataBuf::Clean() {
    if (_data) std::free(_data);
    _data = nullptr;
    _length = 0;
    _size = 0;
}

} // namespace Quorvel
