#include "detection/ZoomProbe.h"

#include "detection/DetectionRules.h"
#include "detection/SoundServerState.h"

namespace parlo {

ZoomProbe::ZoomProbe(std::shared_ptr<AudioSystem> system) : system_(std::move(system)) {}

ZoomSnapshot ZoomProbe::snapshot() {
    try {
        // Zoom may run without talking to the sound server yet: its processes count as the
        // running application too.
        std::vector<RunningApplication> applications;
        for (std::int32_t pid : system_->processesRunning({"zoom", "zoom.real"}))
            applications.push_back({pid, std::string(zoomBundleIdentifier), std::string("Zoom")});

        const auto state = system_->soundServerState();
        if (!state)
            return evaluateZoom(AudioProcessList::unreadable(), applications);
        const ApplicationOf applicationOf = system_->applications();
        for (RunningApplication& client : runningApplicationsOf(*state, applicationOf))
            applications.push_back(std::move(client));
        return evaluateZoom(audioProcessesOf(*state, applicationOf), applications);
    } catch (...) {
        return ZoomSnapshot{false, false, false, 0, false};
    }
}

} // namespace parlo
