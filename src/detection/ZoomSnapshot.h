#pragma once

#include <cstdint>

namespace parlo {

// What the sound server knows about the Zoom client at one moment (a diagnostic, not used by the
// automatic recording).
struct ZoomSnapshot {
    bool running = false;          // a Zoom application runs, or a Zoom audio process was found
    bool inputActive = false;      // some Zoom audio process captures input
    bool outputActive = false;     // some Zoom audio process plays output
    std::int64_t processCount = 0; // audio processes attributed to Zoom
    bool probeAvailable = true;    // the list of audio processes could be read

    friend bool operator==(const ZoomSnapshot&, const ZoomSnapshot&) = default;
};

} // namespace parlo
