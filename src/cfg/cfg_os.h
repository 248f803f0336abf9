// File primitives of the configuration reader and writer, one implementation per platform.
#pragma once

#include <cstddef>

#include "qv_string.h"

namespace Quorvel::detail {

// The writer's line end.
extern const char kCfgEol[];

// Opens `path` for reading; null when it cannot be opened or is a folder.
void *PlatformCfgOpenRead(const char *path);
// Reads up to n bytes; the count read, 0 at the end of the file, -1 on a read error.
long PlatformCfgRead(void *file, char *buf, size_t n);
void PlatformCfgCloseRead(void *file);

// A save in progress: the new text goes into `temp` beside the file it will replace.
struct CfgSave {
    void *file = nullptr;
    cQV_String temp;
    cQV_String target;
};

// Creates the temporary file in the folder of the file that `path` names (the final target of
// a symbolic link). False when it cannot be created or the existing file may not be written.
bool PlatformCfgSaveBegin(const char *path, CfgSave &save);
// Writes all n bytes; false on a write error.
bool PlatformCfgSaveWrite(CfgSave &save, const char *data, size_t n);
// Gives the temporary file the existing file's permissions, flushes it to stable storage and
// puts it in place of the target in one step. On failure the temporary file is removed.
bool PlatformCfgSaveCommit(CfgSave &save);
// Closes and removes the temporary file.
void PlatformCfgSaveAbort(CfgSave &save);

} // namespace Quorvel::detail
