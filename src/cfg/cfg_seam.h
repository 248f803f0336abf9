// Internal seam of the configuration writer, for tests that make a write fail on demand.
#pragma once

#include <cstddef>

#include "cfg/cfg_os.h"

namespace Quorvel::detail {

// When set, called before every block the writer hands to the file; returning false makes
// that write fail as a full disk would.
extern bool (*cfgWriteHook)(const char *data, size_t n);

// Writes one block of a save through the hook and the platform.
bool cfgWriteBlock(CfgSave &save, const char *data, size_t n);

} // namespace Quorvel::detail
