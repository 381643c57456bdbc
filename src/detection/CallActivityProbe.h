#pragma once

#include "detection/CallActivitySnapshot.h"

#include <memory>

namespace parlo {

class AudioSystem;

// Is some other application in a call right now, and which? Reads what the audio system reports on
// every call; never throws: a server that is absent, refuses or does not answer in time gives
// `probeAvailable` false.
class CallActivityProbe final : public CallProbe {
public:
    explicit CallActivityProbe(std::shared_ptr<AudioSystem> system);
    CallActivitySnapshot snapshot() override;

private:
    std::shared_ptr<AudioSystem> system_;
};

} // namespace parlo
