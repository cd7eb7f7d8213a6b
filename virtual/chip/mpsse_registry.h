// How the control API finds a cable's MPSSE engine. The chip model, which owns the cables, defines
// CableMpssePort; until it is linked in, a weak fallback serves one default engine as cable 0.
#pragma once

#include "engine/mpsse_port.h"

namespace vcable {

// The port of cable `cable` (0-based, in scenario order), or null when there is no such cable.
MpssePort* CableMpssePort(int cable);

}  // namespace vcable
