// Internal init and fini entry points of the subsystems that keep load-time state; called only
// from the load sequence in library.cpp.
#pragma once

namespace Quorvel::detail {} // namespace Quorvel::detail
