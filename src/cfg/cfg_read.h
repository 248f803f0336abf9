// The configuration reader over any source of bytes, so that text held in memory goes through
// the same line splitter and parser as a file does.
#pragma once

#include <cstddef>

#include "qv_cfg.h"

namespace Quorvel::detail {

// Appends the records of the `size` bytes at `data` (null: none) to `doc` exactly as ReadFile
// appends those of a file holding the same bytes: the same pieces of at most 32767 bytes, CR LF
// read as LF, the text-end byte, and a malformed line ending the reading with the result true.
// False only when memory runs out, with code 7 in module "oscfg" as ReadFile gives it.
bool CfgReadBuffer(cQV_CfgFile &doc, cQV_Error &error, const void *data, size_t size);

// The reader's loop, shared by ReadFile and CfgReadBuffer; a friend of cQV_CfgFile.
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
};

} // namespace Quorvel::detail
