#include "detection/CallActivityProbe.h"

#include "detection/DetectionRules.h"
#include "platform/ProcessAncestry.h"
#include "platform/SoundServerProcesses.h"

#include <unistd.h>

namespace parlo {

CallActivitySnapshot CallActivityProbe::snapshot() {
    try {
        const OwnIdentity own{static_cast<std::int32_t>(::getpid()), std::string(ownBundleIdentifier)};
        const auto state = platform::querySoundServer();
        if (!state)
            return evaluateCallActivity(AudioProcessList::unreadable(), {}, own);
        platform::ProcessAncestry ancestry;
        const platform::ApplicationOf applicationOf = [&](std::int32_t pid) {
            return ancestry.applicationOf(pid);
        };
        return evaluateCallActivity(platform::audioProcessesOf(*state, applicationOf),
                                    platform::runningApplicationsOf(*state, applicationOf), own);
    } catch (...) {
        // Only memory exhaustion can get here; the probe still answers rather than failing the tick.
        return CallActivitySnapshot{false, {}, false};
    }
}

} // namespace parlo
