#include "detection/CallActivityProbe.h"

#include "detection/DetectionRules.h"
#include "detection/SoundServerState.h"

#include <unistd.h>

namespace parlo {

CallActivityProbe::CallActivityProbe(std::shared_ptr<AudioSystem> system) : system_(std::move(system)) {}

CallActivitySnapshot CallActivityProbe::snapshot() {
    try {
        const OwnIdentity own{static_cast<std::int32_t>(::getpid()), std::string(ownBundleIdentifier)};
        const auto state = system_->soundServerState();
        if (!state)
            return evaluateCallActivity(AudioProcessList::unreadable(), {}, own);
        const ApplicationOf applicationOf = system_->applications();
        return evaluateCallActivity(audioProcessesOf(*state, applicationOf),
                                    runningApplicationsOf(*state, applicationOf), own);
    } catch (...) {
        // Only memory exhaustion can get here; the probe still answers rather than failing the tick.
        return CallActivitySnapshot{false, {}, false};
    }
}

} // namespace parlo
