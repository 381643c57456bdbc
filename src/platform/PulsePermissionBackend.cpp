#include "capture/CapturePermissions.h"
#include "core/OffThread.h"
#include "platform/PlatformParts.h"
#include "platform/SoundServerMonitor.h"

namespace parlo {

namespace {

// The cheap answers come from the monitor's memory; only the reliable test talks to the server,
// with a short recording on a thread of its own.
class PulsePermissionBackend final : public PermissionBackend {
public:
    explicit PulsePermissionBackend(std::shared_ptr<platform::SoundServerMonitor> monitor)
        : monitor_(std::move(monitor)) {}

    bool microphoneAuthorized() override {
        const SoundServerDevices devices = monitor_->devices();
        return devices.reachable && !devices.defaultSource.empty() && !devices.defaultSourceIsMonitor;
    }

    bool systemAudioPreflight() override {
        const SoundServerDevices devices = monitor_->devices();
        return devices.reachable && !devices.defaultSinkMonitor.empty();
    }

    QCoro::Task<> verifySystemAudio() override {
        auto recording = onOwnThread([] { recordFromDefaultMonitor(); });
        co_await recording;
    }

private:
    std::shared_ptr<platform::SoundServerMonitor> monitor_;
};

} // namespace

namespace platform {

std::shared_ptr<PermissionBackend> soundServerPermissions(std::shared_ptr<SoundServerMonitor> monitor) {
    return std::make_shared<PulsePermissionBackend>(std::move(monitor));
}

std::shared_ptr<PermissionBackend> soundServerPermissions() {
    return soundServerPermissions(settledSoundServerMonitor());
}

} // namespace platform

} // namespace parlo
