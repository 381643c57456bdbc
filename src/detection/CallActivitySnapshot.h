#pragma once

#include <string>
#include <vector>

namespace parlo {

// What call detection saw at one moment: which other applications are in a call.
struct CallActivitySnapshot {
    bool active = false;
    std::vector<std::string> applications; // display names, unique, sorted by code point
    bool probeAvailable = true;            // false when the sound server's list could not be read

    // The readable-but-empty answer, also used while automatic recording is off.
    static CallActivitySnapshot idle() { return {}; }

    friend bool operator==(const CallActivitySnapshot&, const CallActivitySnapshot&) = default;
};

// The source of snapshots as the monitoring tick sees it: the real probe in the application,
// scripted snapshots in tests.
class CallProbe {
public:
    virtual ~CallProbe() = default;
    virtual CallActivitySnapshot snapshot() = 0;
};

} // namespace parlo
