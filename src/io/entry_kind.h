// How an entry is classified when it is looked at without following it, from what the system
// reports about it: its attribute bits and, for a reparse point, the tag read from the entry
// itself. Written once so that every platform's tests check the decision.
#pragma once

#include "io_os.h"

#include <cstdint>

namespace Quorvel::detail {

// The attribute bits and the reparse-tag bit that the decision looks at (the Win32 values).
constexpr uint32_t kIoAttrInvalid = 0xFFFFFFFFu;
constexpr uint32_t kIoAttrDirectory = 0x10u;
constexpr uint32_t kIoAttrReparsePoint = 0x400u;
constexpr uint32_t kIoTagNameSurrogate = 0x20000000u;

// What the entry is, given its attributes (kIoAttrInvalid: it could not be read) and, when it is
// a reparse point, whether its tag could be read and the tag. A reparse point whose tag names
// another entry (symbolic links, junctions and every other name surrogate) is a link; so is one
// whose tag cannot be read, so that a recursive delete never enters what it cannot identify.
IoEntry IoClassifyEntry(uint32_t attributes, bool tagRead, uint32_t tag);

} // namespace Quorvel::detail
