#pragma once

#include "detection/ZoomSnapshot.h"

namespace parlo {

// What the sound server and the process list know about the Zoom client. Never throws; a sound
// server that cannot be read still reports whether Zoom runs.
class ZoomProbe {
public:
    ZoomProbe() = delete;
    static ZoomSnapshot snapshot();
};

} // namespace parlo
