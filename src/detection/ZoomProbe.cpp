#include "detection/ZoomProbe.h"

#include "detection/DetectionRules.h"
#include "platform/ProcessAncestry.h"
#include "platform/SoundServerProcesses.h"

namespace parlo {

ZoomSnapshot ZoomProbe::snapshot() {
    try {
        // Zoom may run without talking to the sound server yet: its processes count as the
        // running application too.
        std::vector<RunningApplication> applications;
        for (std::int32_t pid : platform::processesRunning({"zoom", "zoom.real"}))
            applications.push_back({pid, std::string(zoomBundleIdentifier), std::string("Zoom")});

        const auto state = platform::querySoundServer();
        if (!state)
            return evaluateZoom(AudioProcessList::unreadable(), applications);
        platform::ProcessAncestry ancestry;
        const platform::ApplicationOf applicationOf = [&](std::int32_t pid) {
            return ancestry.applicationOf(pid);
        };
        for (RunningApplication& client : platform::runningApplicationsOf(*state, applicationOf))
            applications.push_back(std::move(client));
        return evaluateZoom(platform::audioProcessesOf(*state, applicationOf), applications);
    } catch (...) {
        return ZoomSnapshot{false, false, false, 0, false};
    }
}

} // namespace parlo
