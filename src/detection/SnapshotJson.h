#pragma once

#include "detection/CallActivitySnapshot.h"
#include "detection/ZoomSnapshot.h"

#include <string>
#include <string_view>

namespace parlo {

// Compact JSON with the keys in their fixed order:
//   {"active":...,"applications":[...],"probeAvailable":...}
//   {"running":...,"inputActive":...,"outputActive":...,"processCount":...,"probeAvailable":...}
// Encoding throws when a name is not valid UTF-8; decoding throws JsonError when the text is
// not JSON, a key is missing or a value has the wrong type.
std::string encodeSnapshot(const CallActivitySnapshot& snapshot);
std::string encodeSnapshot(const ZoomSnapshot& snapshot);
CallActivitySnapshot decodeCallActivitySnapshot(std::string_view json);
ZoomSnapshot decodeZoomSnapshot(std::string_view json);

} // namespace parlo
