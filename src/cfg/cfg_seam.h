// Internal seams of the configuration reader and writer, for tests.
#pragma once

#include <cstddef>

#include "io/io_save.h"

namespace Quorvel::detail {

// When set, called before every block the writer hands to the file; returning false makes
// that write fail as a full disk would.
extern bool (*cfgWriteHook)(const char *data, size_t n);

// Writes one block of a save through the hook and the file seam.
bool cfgWriteBlock(tIoSave &save, const char *data, size_t n);

// The byte at which the reader stops as at the end of the file (-1: none). It starts as the
// platform's text-mode end of file.
extern int cfgTextEnd;

} // namespace Quorvel::detail
