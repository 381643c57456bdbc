#pragma once

#include "detection/CallActivitySnapshot.h"

namespace parlo {

// Is some other application in a call right now, and which? Reads the sound server's clients and
// streams afresh on every call; never throws: a server that is absent, refuses or does not answer
// in time gives `probeAvailable` false.
class CallActivityProbe {
public:
    CallActivityProbe() = delete;
    static CallActivitySnapshot snapshot();
};

// The probe as the monitoring tick holds it.
class SystemCallProbe final : public CallProbe {
public:
    CallActivitySnapshot snapshot() override { return CallActivityProbe::snapshot(); }
};

} // namespace parlo
