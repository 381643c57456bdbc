#pragma once

#include "detection/ZoomSnapshot.h"

#include <memory>

namespace parlo {

class AudioSystem;

// What the sound server and the process list know about the Zoom client. Never throws; a sound
// server that cannot be read still reports whether Zoom runs.
class ZoomProbe {
public:
    explicit ZoomProbe(std::shared_ptr<AudioSystem> system);
    ZoomSnapshot snapshot();

private:
    std::shared_ptr<AudioSystem> system_;
};

} // namespace parlo
