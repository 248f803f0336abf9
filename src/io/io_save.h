// Saving a whole file so that a failed save never leaves a damaged file behind, and never
// changes what the file is: written once here on top of the file seam (io_os.h).
//
// An ordinary file with one name, owned so that a new file can be given its owner, is
// replaced in one step: the text goes to a private temporary file in the same folder, which
// takes the file's permissions, is flushed to stable storage and then renamed over it (on
// Windows the system's replace call keeps the file's security, attributes and streams). Every
// other existing target is written in place, as opening it for writing would: a device, a
// pipe or a socket (so the node stays what it is), a file with several hard links (so every
// name keeps seeing one file), a file the caller may write but whose owner a new file could
// not be given, and (Windows) a file another process holds so that it cannot be replaced. A
// failure part way through a save in place leaves what was written. A folder, a loop of
// symbolic links and a file the caller may not write are refused before anything is written.
// Symbolic links stay: the file they finally name is saved, and a dangling link gets its
// target created.
#pragma once

#include <cstddef>

#include "io_os.h"

namespace Quorvel::detail {

enum class IoSaveMethod { Refuse, Replace, InPlace };

// How a target is saved (see above).
IoSaveMethod ChooseSaveMethod(const tIoSaveTarget &target);

// The path of a temporary file beside `target`: the same folder and a name of as many bytes
// as the target's own (six at least, sixteen at most), so it fits wherever the target's name
// fits. The name starts with '.' and the rest is drawn from `seed`.
cQV_String SaveTempPath(const char *target, unsigned long long seed);

// Milliseconds to wait before replace attempt `attempt` (1, 2, ...) after the target was found
// busy, or -1 to stop trying: about one second in all.
int SaveRetryDelay(int attempt);

// One save in progress.
class tIoSave {
public:
    tIoSave() = default;
    tIoSave(const tIoSave &) = delete;
    tIoSave &operator=(const tIoSave &) = delete;
    ~tIoSave() { Abort(); }

    // Finds what `path` names and opens the file the text goes to. False when the target is
    // refused or no file could be opened (reason in osGetSysError()).
    bool Begin(const char *path);
    // Writes all n bytes; false on a write error.
    bool Write(const char *data, size_t n);
    // Finishes the save; false when flushing, closing or replacing failed. A replacing save
    // that fails leaves the target as it was.
    bool Commit();
    // Drops a save that has not been committed (the temporary file goes).
    void Abort();

    IoSaveMethod Method() const { return _method; }
    const tIoSaveTarget &Target() const { return _target; }

private:
    bool _CopyInPlace();

    tIoSaveTarget _target;
    IoSaveMethod _method = IoSaveMethod::Refuse;
    void *_file = reinterpret_cast<void *>(-1);
    cQV_String _temp;
};

} // namespace Quorvel::detail
