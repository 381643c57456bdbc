#include "model/SilenceWatch.h"

#include <algorithm>

namespace parlo {

void SilenceWatch::reset(double now) {
    systemHeard_ = now;
    microphoneHeard_ = now;
    warning_ = Warning::none;
}

SilenceWatch::Warning SilenceWatch::update(float systemLevel, float microphoneLevel, double now) {
    if (systemLevel >= quietLevel)
        systemHeard_ = now;
    if (microphoneLevel >= quietLevel)
        microphoneHeard_ = now;
    const double systemQuiet = now - systemHeard_;
    const double microphoneQuiet = now - microphoneHeard_;
    // A pause in the conversation silences both sides for a while: that is no fault until it lasts.
    if (std::min(systemQuiet, microphoneQuiet) >= bothSeconds)
        warning_ = Warning::both;
    else if (microphoneQuiet >= oneSideSeconds && systemQuiet < oneSideSeconds)
        warning_ = Warning::microphone;
    else if (systemQuiet >= oneSideSeconds && microphoneQuiet < oneSideSeconds)
        warning_ = Warning::systemAudio;
    else
        warning_ = Warning::none;
    return warning_;
}

} // namespace parlo
