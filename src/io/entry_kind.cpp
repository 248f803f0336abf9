#include "entry_kind.h"

namespace Quorvel::detail {

IoEntry IoClassifyEntry(uint32_t attributes, bool tagRead, uint32_t tag) {
    if (attributes == kIoAttrInvalid) return IoEntry::Missing;
    if ((attributes & kIoAttrReparsePoint) && (!tagRead || (tag & kIoTagNameSurrogate)))
        return IoEntry::Link;
    return (attributes & kIoAttrDirectory) ? IoEntry::Directory : IoEntry::File;
}

} // namespace Quorvel::detail
