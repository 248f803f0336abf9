// A small record format over any stream, for the tests and the fuzz target: a storage starts
// with the header "QVS1\n"; a record is "#<id>" followed by its fields, each after a ';', and a
// line feed ends the record. Byte fields and strings are written as "<length>:" and their bytes.
// Separators are ' ', '\t', '\n', '\r' and ';': the readers skip any run of them before a field,
// as the storage does around a record's identifier.
#pragma once

#include <cstring>
#include <string>

#include "qv_storage.h"

namespace storagetest {

class cSampleFormat : public Quorvel::cDataFormat {
public:
    explicit cSampleFormat(Quorvel::iDataIO *io) { _io = io; }

    bool WriteRecordId(unsigned int id) override { return Put("#") && _io->WriteUlong(id); }
    bool WriteUlong(unsigned int value) override { return Put(";") && _io->WriteUlong(value); }
    bool WriteLong(int value) override { return Put(";") && _io->WriteLong(value); }
    bool WriteBytes(unsigned int count, const unsigned char *data) override {
        return Put(";") && _io->WriteUlong(count) && Put(":") && _io->WriteBytes(count, data);
    }
    bool WriteString(const char *text) override {
        return WriteBytes(static_cast<unsigned>(std::strlen(text)),
                          reinterpret_cast<const unsigned char *>(text));
    }
    bool WriteDelim() override { return Put("\n"); }

    bool ReadRecordId(unsigned int &id) override { return Expect('#') && _io->ReadUlong(id); }
    bool ReadUlong(unsigned int &value) override { return ReadDelims() && _io->ReadUlong(value); }
    bool ReadLong(int &value) override { return ReadDelims() && _io->ReadLong(value); }
    bool ReadBytes(unsigned int count, unsigned char *data) override {
        unsigned stored;
        return ReadDelims() && _io->ReadUlong(stored) && stored == count && Expect(':') &&
               _io->ReadBytes(count, data);
    }
    bool ReadString(Quorvel::cQV_String &text) override {
        unsigned count;
        if (!ReadDelims() || !_io->ReadUlong(count) || !Expect(':')) return false;
        // A count longer than the rest of a broken storage is refused before allocating.
        if (count > 1u << 20) return false;
        std::string bytes(count, '\0');
        if (count && !_io->ReadBytes(count, reinterpret_cast<unsigned char *>(&bytes[0])))
            return false;
        text = bytes.c_str();
        return true;
    }
    bool ReadDelim() override { return ReadDelims(); }

    bool WriteBegin() override { return Put("QVS1\n"); }
    bool ReadBegin() override {
        unsigned char head[5];
        return _io->ReadBytes(5, head) && std::memcmp(head, "QVS1\n", 5) == 0;
    }
    const char *GetDelims() override { return " \t\n\r;"; }

private:
    bool Put(const char *text) {
        return _io->WriteBytes(static_cast<unsigned>(std::strlen(text)),
                               reinterpret_cast<const unsigned char *>(text));
    }
    bool Expect(char c) {
        unsigned char b;
        return _io->ReadBytes(1, &b) && b == static_cast<unsigned char>(c);
    }
};

} // namespace storagetest
