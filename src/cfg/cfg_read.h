// The configuration reader over any source of bytes and the writer into any sink of bytes, so
// that text held in memory goes through the same line splitter, parser and formatter as a file.
#pragma once

#include <cstddef>

#include "qv_cfg.h"

namespace Quorvel::detail {

// Appends the records of the `size` bytes at `data` (null: none) to `doc` exactly as ReadFile
// appends those of a file holding the same bytes: the same pieces of at most 32767 bytes, CR LF
// read as LF, the text-end byte, and a malformed line ending the reading with the result true.
// False only when memory runs out, with code 7 in module "oscfg" as ReadFile gives it.
bool CfgReadBuffer(cQV_CfgFile &doc, cQV_Error &error, const void *data, size_t size);

// The reader's loop, shared by ReadFile and CfgReadBuffer, and the writer's, shared by WriteFile
// and CfgWriteBuffer; a friend of cQV_CfgFile.
struct tCfgAccess {
    // Fills buf with up to cap bytes and sets n to their count (0 at the end); false on a read
    // error.
    using ReadFn = bool (*)(void *source, unsigned char *buf, unsigned cap, unsigned &n);
    enum { kDone, kNoMemory };

    // Parses what `read` gives into records of `doc`, through the line buffer `line` (32768
    // bytes) and the block buffer `block` (65536 bytes). kNoMemory when a record could not be
    // allocated; readError tells whether a read failed. Both leave the records read before.
    static int ReadLines(cQV_CfgFile &doc, char *line, char *block, ReadFn read, void *source,
                         bool &readError);
    static bool ReadBuffer(cQV_CfgFile &doc, cQV_Error &error, const void *data, size_t size);

    // Takes the next n bytes of the text; false when they could not be stored.
    using WriteFn = bool (*)(void *sink, const char *data, size_t n);
    enum { kWritten, kWriteFailed, kUnwritable };

    // Formats the records of `doc` as WriteFile writes them and hands the text to `write` in
    // blocks of at most 65536 bytes. kWriteFailed when `write` refused a block or the block
    // buffer could not be had; kUnwritable when the form of a parameter's value could not be
    // decided for want of memory, with `need` set to the bytes of its line.
    static int WriteRecords(const cQV_CfgFile &doc, WriteFn write, void *sink, unsigned &need);
};

// Hands `doc`'s text, the bytes WriteFile would put in a file, to `write`. False, with code 7 in
// module "oscfg" when memory ran out deciding a value's form, else with code 3 "Failed to write
// data" when `write` refused a block or the block buffer could not be had.
bool CfgWriteBuffer(const cQV_CfgFile &doc, cQV_Error &error, tCfgAccess::WriteFn write,
                    void *sink);

} // namespace Quorvel::detail
