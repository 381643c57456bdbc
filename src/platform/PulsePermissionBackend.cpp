#include "capture/CapturePermissions.h"
#include "core/OffThread.h"
#include "platform/PlatformParts.h"
#include "platform/PulseServerInfo.h"

#include <chrono>

namespace parlo {

namespace {

class PulsePermissionBackend final : public PermissionBackend {
public:
    bool microphoneAuthorized() override {
        const auto& devices = current();
        return devices.reachable && !devices.defaultSource.empty() && !devices.defaultSourceIsMonitor;
    }

    bool systemAudioPreflight() override {
        const auto& devices = current();
        return devices.reachable && !devices.defaultSinkMonitor.empty();
    }

    QCoro::Task<> verifySystemAudio() override {
        auto recording = onOwnThread([] { recordFromDefaultMonitor(); });
        co_await recording;
    }

private:
    // The monitoring tick asks both questions back to back; one round trip answers both.
    const SoundServerDevices& current() {
        const auto now = std::chrono::steady_clock::now();
        if (!cached_ || now - cachedAt_ > std::chrono::milliseconds(500)) {
            devices_ = querySoundServerDevices(std::chrono::milliseconds(1000));
            cachedAt_ = now;
            cached_ = true;
        }
        return devices_;
    }

    SoundServerDevices devices_;
    std::chrono::steady_clock::time_point cachedAt_;
    bool cached_ = false;
};

} // namespace

namespace platform {

std::shared_ptr<PermissionBackend> soundServerPermissions() {
    return std::make_shared<PulsePermissionBackend>();
}

} // namespace platform

} // namespace parlo
