#pragma once

#include "detection/CallActivitySnapshot.h"
#include "detection/ZoomSnapshot.h"

#include <string>

namespace parlo {

// Compact JSON with the keys in their fixed order:
//   {"active":...,"applications":[...],"probeAvailable":...}
//   {"running":...,"inputActive":...,"outputActive":...,"processCount":...,"probeAvailable":...}
// Throws JsonError when a name is not valid UTF-8.
std::string encodeSnapshot(const CallActivitySnapshot& snapshot);
std::string encodeSnapshot(const ZoomSnapshot& snapshot);

} // namespace parlo
