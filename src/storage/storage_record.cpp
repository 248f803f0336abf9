// The record storage driver and the separator skipping of record formats.
#include <cstring>

#include "qv_storage.h"

namespace Quorvel {

namespace {

// The set is searched with its terminator, so a zero byte always counts as a separator. Sets are
// a few bytes long: a plain loop beats a library search call here.
bool IsDelim(const char *set, unsigned char byte) {
    for (const char *d = set;; ++d) {
        if (static_cast<unsigned char>(*d) == byte) return true;
        if (!*d) return false;
    }
}

} // namespace

bool cDataFormat::ReadDelims() {
    iDataIO *io = _io;
    if (!io) return false;
    const char *delims = GetDelims();
    if (!delims) delims = "";
    const unsigned start = io->Tell();
    if (io->IsEof()) return true;
    for (unsigned n = 0;; ++n) {
        unsigned char byte;
        if (!io->ReadBytes(1, &byte)) return false;
        // The first other byte is put back by seeking to it, so the next read sees it again.
        if (!IsDelim(delims, byte)) return io->Seek(start + n);
        if (io->IsEof()) return true;
    }
}

void cDataStorage::SetFormat(eMode mode, cDataFormat *format) {
    _mode = mode;
    _format = format;
}

iDataIO *cDataStorage::_Stream() const {
    return _format ? _format->GetIO() : nullptr;
}

bool cDataStorage::Begin() {
    iDataIO *io = _Stream();
    if (!io) return false;
    if (_mode == eModeWrite) return _format->WriteBegin() && io->WriteFlush();
    return _format->ReadBegin();
}

bool cDataStorage::WriteRecordBegin(unsigned int id, cDataFormat *&format) {
    if (_mode != eModeWrite || !_Stream()) return false;
    if (!_format->WriteRecordId(id)) return false;
    format = _format;
    return true;
}

bool cDataStorage::WriteRecordEnd(unsigned int count, const unsigned char *data) {
    iDataIO *io = _Stream();
    if (_mode != eModeWrite || !io) return false;
    if (count == 0 || !data) return true;
    return io->WriteBytes(count, data);
}

bool cDataStorage::ReadRecordBegin(unsigned int &id, cDataFormat *&format) {
    iDataIO *io = _Stream();
    if (_mode != eModeRead || !io) return false;
    _recordStart = io->Tell();
    _format->ReadDelims();
    if (io->IsEof()) {
        // The end marker: an identifier with all bits set and no format.
        id = 4294967295u;
        format = nullptr;
        return true;
    }
    if (!_format->ReadRecordId(id)) return false;
    _format->ReadDelims();
    format = _format;
    return true;
}

bool cDataStorage::ReadRecordCancel() {
    iDataIO *io = _Stream();
    if (_mode != eModeRead || !io) return false;
    return io->Seek(_recordStart);
}

} // namespace Quorvel
