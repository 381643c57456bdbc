#pragma once

#include "detection/CallActivitySnapshot.h"
#include "detection/ZoomSnapshot.h"

#include <string_view>

namespace parlo {

// Reads back what the probe modes print (see encodeSnapshot). Throws JsonError when the text is not
// JSON, a key is missing or a value has the wrong type; unknown keys are skipped.
CallActivitySnapshot decodeCallActivitySnapshot(std::string_view json);
ZoomSnapshot decodeZoomSnapshot(std::string_view json);

} // namespace parlo
