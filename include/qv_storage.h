// Data storage (module "osstorage"): a growable byte buffer, byte streams over files and memory,
// and a driver that writes and reads numbered records through a caller's record format.
#pragma once

#include "qv_error.h"
#include "qv_os_export.h"
#include "qv_string.h"

namespace Quorvel {

namespace detail {
struct tFileShare;
}

// A heap block (malloc/realloc/free) with a length (bytes in use) and a size (bytes allocated).
// Every size the buffer allocates itself is a multiple of its step (a step of 0 counts as 1); an
// adopted block keeps its own size. Copying and assigning move the block to the target and leave
// the source empty; the steps of both stay as they were. Growth is linear: a block that has to
// grow becomes the smallest multiple of the step that holds the new length. Allocation failure
// returns false and leaves block, length and size as they were; no message is produced.
class QV_OS_API cDataBuf {
public:
    // Empty: no block, length 0, size 0.
    explicit cDataBuf(unsigned int step);
    // Takes over other's block, length and size; other is left empty with its own step.
    cDataBuf(cDataBuf &other, unsigned int step);
    // Adopts data (from malloc or realloc; the buffer frees it): length and size are `length`.
    cDataBuf(unsigned int length, unsigned char *data, unsigned int step);
    // Frees the block.
    virtual ~cDataBuf();

    // Frees this block, then takes over other's block, length and size and empties other.
    // Assigning a buffer to itself does nothing.
    cDataBuf &operator=(cDataBuf &other);

    // The byte at index from the block's start; not checked against length or size.
    unsigned char &operator[](int index) { return _data[index]; }
    unsigned char &At(int index) { return _data[index]; }
    // The block's start; null when nothing is allocated.
    operator unsigned char *() { return _data; }
    operator const unsigned char *() const { return _data; }

    // The bytes in use (length) and the bytes allocated (size).
    unsigned int GetLength() const { return _length; }
    unsigned int GetSize() const { return _size; }

    // Resizes the block to size rounded up to the step; shrinking cuts the length to the new
    // size, and 0 releases the block. False when the allocation fails or the rounded size would
    // not fit in 32 bits (nothing changed).
    bool SetSize(unsigned int size);
    // Sets the length, growing the block when length passes the size; never shrinks the block.
    // Bytes between the old and the new length are not initialised.
    bool SetLength(unsigned int length) {
        if (length > _size) return _GrowLength(length);
        _length = length;
        return true;
    }
    // Appends count bytes from src after the bytes in use. False (nothing copied) when the block
    // cannot grow or the new length would not fit in 32 bits.
    bool AddSegment(const unsigned char *src, unsigned int count);
    // Frees the block; length and size 0; the step stays.
    void Clean();

private:
    bool _GrowLength(unsigned int length);

    unsigned char *_data = nullptr;
    unsigned int _step;
    unsigned int _length = 0;
    unsigned int _size = 0;
};

// A byte stream with a position. Numbers are stored as decimal text: an unsigned value as its
// digits, a signed one with a leading '-' when negative; no padding, separator or terminator
// (a record format separates them). The text is the same under every locale.
//
// Each stream keeps its own status record (code 3, module "osstorage"). The status is sticky:
// after a failure every operation but GetStatus (and cFileIO::IsEof) returns false at once (Tell
// returns 0) until the status is cleared by cFileIO::Open, cMemoryIO::SetBuffer or
// GetStatus().Reset().
class QV_OS_API iDataIO {
public:
    iDataIO() = default;
    // The interface holds no state; each stream says what its copies share.
    iDataIO(const iDataIO &) = default;
    iDataIO &operator=(const iDataIO &) = default;
    virtual ~iDataIO() = default;

    // The position, in bytes from the start of the stream.
    virtual unsigned int Tell() = 0;
    // Moves to position; false when the stream cannot go there.
    virtual bool Seek(unsigned int position) = 0;
    // Writes count bytes of data at the position and moves past them; 0 bytes is a success.
    virtual bool WriteBytes(unsigned int count, const unsigned char *data) = 0;
    // Writes value as decimal text at the position.
    virtual bool WriteUlong(unsigned int value) = 0;
    virtual bool WriteLong(int value) = 0;
    // Hands the bytes written so far on to the system (a memory stream has nothing to hand on).
    virtual bool WriteFlush() = 0;
    // Reads count bytes into data and moves past them; false when fewer are left.
    virtual bool ReadBytes(unsigned int count, unsigned char *data) = 0;
    // Reads a decimal number into value; false when the position holds none.
    virtual bool ReadUlong(unsigned int &value) = 0;
    virtual bool ReadLong(int &value) = 0;
    // True at the end of the stream (each stream says when).
    virtual bool IsEof() = 0;
    // The stream's status record: code 0 while no operation has failed.
    virtual cQV_Error &GetStatus() = 0;
};

// A stream over a file of the C runtime's buffered file interface. The file is not inherited by
// child processes. Copies share the open file; it is closed once, when its last owner closes it
// or is destroyed. Positions cover the whole unsigned 32-bit range (0 to 4294967295).
// Messages (the path is the one given to the last successful Open):
//   no file open   "No file opened" (every operation but Open and Close)
//   Open           "Files to open file [%s] with mode [%s]"
//   Close          "Files to close file [%s]"
//   Seek           "Failed to seek file [%s] into position %u"
//   WriteBytes     "Failed to write [%u] bytes to file [%s]"
//   WriteUlong     "Failed to write tUlong to file [%s]"
//   WriteLong      "Failed to write int to file [%s]"
//   WriteFlush     "Failed to flush data into file [%s]"
//   ReadBytes      "Failed to read %u bytes from file [%s]"
//   ReadUlong      "Failed to read tUlong from file [%s]"
//   ReadLong       "Failed to read int from file [%s]"
class QV_OS_API cFileIO : public iDataIO {
public:
    cFileIO() = default;
    // Shares other's open file; path and status are copied.
    cFileIO(const cFileIO &other);
    // Gives up this object's share of its file (closing it when this was the last owner), then
    // shares other's file; path and status are copied.
    cFileIO &operator=(const cFileIO &other);
    // Close(), result ignored.
    ~cFileIO() override;

    // Closes the open file (result ignored), clears the status and opens path with fopen's mode
    // string, which keeps every meaning fopen gives it. On failure the previous path stays.
    bool Open(const char *path, const char *mode);
    // Gives up this object's share of the file; the last owner closes it, and a failing close is
    // reported. True when no file is open.
    bool Close();

    // The position; 4294967295 when it cannot be told or does not fit in 32 bits.
    unsigned int Tell() override;

    bool Seek(unsigned int position) override;
    bool WriteBytes(unsigned int count, const unsigned char *data) override;
    bool WriteUlong(unsigned int value) override;
    bool WriteLong(int value) override;
    bool WriteFlush() override;
    bool ReadBytes(unsigned int count, unsigned char *data) override;
    // Skip white space (space, tab, line feed, vertical tab, form feed, carriage return), then
    // read an optional sign and decimal digits. Values out of range saturate: ReadUlong gives
    // 4294967295 (and fails on a '-' sign), ReadLong -2147483648 or 2147483647.
    bool ReadUlong(unsigned int &value) override;
    bool ReadLong(int &value) override;
    // The end-of-file indicator, set only once a read has tried to go past the end. Not subject
    // to the sticky status.
    bool IsEof() override;

    cQV_Error &GetStatus() override { return _status; }

private:
    bool _Check();
    bool _ResolvePushBack();
    bool _ReadDecimal(bool isSigned, unsigned int &magnitude, bool &negative);
    void _Release();

    cQV_String _path;
    detail::tFileShare *_share = nullptr;
    cQV_Error _status;
};

// A stream over a cDataBuf of step 16; the stream's length is the buffer's length and the
// position never passes it. Copying and assigning move the bytes (the source is left empty at
// position 0); position and status are copied. Messages:
//   Seek past the length      "Failed to seek to position %u"
//   ReadBytes past the length "Failed to read %u bytes"
//   ReadUlong / ReadLong      "Failed to read tUlong" / "Failed to read int"
// A write whose block cannot grow returns false and leaves the status clear.
class QV_OS_API cMemoryIO : public iDataIO {
public:
    cMemoryIO();
    // Takes over other's bytes (other is left empty at position 0); position and status are copied.
    cMemoryIO(cMemoryIO &other);
    cMemoryIO &operator=(cMemoryIO &other);
    // Frees the bytes.
    ~cMemoryIO() override = default;

    // Takes over buf's bytes (buf is left empty): position 0, status cleared.
    void SetBuffer(cDataBuf &buf);
    // The stream's own buffer. A caller that shortens it or takes its bytes moves the position
    // back to the new length at the next operation.
    cDataBuf &GetBuffer() { return _buffer; }
    // Length 0 (the block stays) and position 0; the status is kept.
    void Reset();

    unsigned int Tell() override;
    bool Seek(unsigned int position) override;
    // Overwrites in place and extends the length when writing past it.
    bool WriteBytes(unsigned int count, const unsigned char *data) override;

    bool WriteUlong(unsigned int value) override;
    bool WriteLong(int value) override;
    bool WriteFlush() override;
    bool ReadBytes(unsigned int count, unsigned char *data) override;
    // At most 11 digits are taken (a 12th is left for the next read), no white space or sign;
    // above 4294967295 gives 4294967295.
    bool ReadUlong(unsigned int &value) override;
    // An optional '-' and digits, at most 11 bytes in all; saturates to -2147483648 and
    // 2147483647. A '-' with no digit fails with value set to 0 and the position unchanged.
    bool ReadLong(int &value) override;
    // True when the status is clear and the position is at the length.
    bool IsEof() override;

    cQV_Error &GetStatus() override { return _status; }

private:
    // The sticky check. The buffer is handed out by GetBuffer, so a caller may have shortened it
    // or taken its bytes: the position is drawn back to the length, which it must never pass.
    bool _Check() {
        if (_position > _buffer.GetLength()) _position = _buffer.GetLength();
        return _status.code == 0;
    }

    cDataBuf _buffer;
    unsigned int _position = 0;
    cQV_Error _status;
};

// An abstract record format over one stream: how a record's identifier, its fields and the
// separators between them are laid out. A concrete format sets the stream (the base never does).
// Of the operations below the library calls only WriteRecordId, ReadRecordId, ReadDelims,
// WriteBegin, ReadBegin and GetDelims; the field operations are for the format's own callers.
class QV_OS_API cDataFormat {
public:
    cDataFormat() = default;
    // Copies share the stream, which no format owns.
    cDataFormat(const cDataFormat &) = default;
    cDataFormat &operator=(const cDataFormat &) = default;
    virtual ~cDataFormat() = default;

    // Writes the start of a record carrying id.
    virtual bool WriteRecordId(unsigned int id) = 0;
    // Field writers.
    virtual bool WriteUlong(unsigned int value) = 0;
    virtual bool WriteLong(int value) = 0;
    virtual bool WriteBytes(unsigned int count, const unsigned char *data) = 0;
    virtual bool WriteString(const char *text) = 0;
    // Writes the separator that ends a field.
    virtual bool WriteDelim() = 0;

    // Reads the identifier at the start of a record.
    virtual bool ReadRecordId(unsigned int &id) = 0;
    // Field readers, matching the writers.
    virtual bool ReadUlong(unsigned int &value) = 0;
    virtual bool ReadLong(int &value) = 0;
    virtual bool ReadBytes(unsigned int count, unsigned char *data) = 0;
    virtual bool ReadString(cQV_String &text) = 0;
    // Reads the separator that ends a field.
    virtual bool ReadDelim() = 0;

    // Skips bytes of GetDelims() (a zero byte always counts as one) and stops before the first
    // other byte or at the end. False when the stream fails (or none is set).
    virtual bool ReadDelims();
    // Prepares the stream for writing / reading a storage.
    virtual bool WriteBegin() = 0;
    virtual bool ReadBegin() = 0;
    // The separator bytes, NUL-terminated.
    virtual const char *GetDelims() = 0;

    // The stream the format reads and writes; null when none is set.
    iDataIO *GetIO() { return _io; }

protected:
    // The stream the format reads and writes; not owned.
    iDataIO *_io = nullptr;
};

// Writes numbered records through a format and reads them back one by one. Every operation
// returns false for the wrong mode, a missing format or stream, or a false result of the format
// or the stream (whose status holds the cause); the storage produces no message of its own.
class QV_OS_API cDataStorage {
public:
    // Whether the storage reads records or writes them.
    enum eMode { eModeRead = 0, eModeWrite = 1 };

    // Read mode, no format.
    cDataStorage() = default;
    // Reads or writes, as mode says, through format, which the storage does not own.
    cDataStorage(eMode mode, cDataFormat *format) : _mode(mode), _format(format) {}
    // Copies share the format (never owned) and the saved record start.
    cDataStorage(const cDataStorage &) = default;
    cDataStorage &operator=(const cDataStorage &) = default;
    virtual ~cDataStorage() = default;

    // Replaces mode and format; the saved record start stays.
    void SetFormat(eMode mode, cDataFormat *format);
    // Write mode: the format's WriteBegin, then a flush. Read mode: the format's ReadBegin.
    bool Begin();
    // Nothing is left to finish: always true.
    bool End() { return true; }

    // Write mode: writes the record's start through the format and returns the format in format.
    bool WriteRecordBegin(unsigned int id, cDataFormat *&format);
    // Write mode: appends the count trailing bytes (none when count is 0 or data is null).
    bool WriteRecordEnd(unsigned int count, const unsigned char *data);
    // Read mode: skips separators and reads the next record's identifier; format receives the
    // format. At the end of the storage (only separators or nothing left) it returns true with id
    // 4294967295 and format null.
    bool ReadRecordBegin(unsigned int &id, cDataFormat *&format);
    // A record needs no closing: true in read mode, false in write mode.
    bool ReadRecordEnd() { return _mode == eModeRead; }
    // Read mode: seeks back to where the last ReadRecordBegin started, separators included.
    bool ReadRecordCancel();

private:
    iDataIO *_Stream() const;

    eMode _mode = eModeRead;
    cDataFormat *_format = nullptr;
    unsigned int _recordStart = 0;
};

} // namespace Quorvel
