// The system's last error and its message, per platform.
#pragma once

#include "qv_string.h"

namespace Quorvel::detail {

int PlatformGetSysError();
// The system's message for code as it gives it (line breaks included), or empty when it has none.
cQV_String PlatformGetSysErrorMessage(int code);

} // namespace Quorvel::detail
