// The load sequence on POSIX: no loader lock, so every slot does its work at load.
#include "library.h"

namespace Quorvel::detail {

const bool kPlatformDefersLoaderWork = false;

} // namespace Quorvel::detail
