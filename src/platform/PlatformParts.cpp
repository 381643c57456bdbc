#include "platform/PlatformParts.h"

#include "capture/SystemAudioRecorder.h"
#include "detection/SoundServerState.h"
#include "platform/AacFileWriter.h"
#include "platform/AudioConverter.h"
#include "platform/DesktopSecretStore.h"
#include "platform/ProcessAncestry.h"
#include "platform/PulseCapture.h"
#include "platform/SoundServerMonitor.h"

namespace parlo::platform {

namespace {

class FfmpegCodec final : public AudioCodec {
public:
    std::unique_ptr<AudioEncoder> createEncoder(const std::filesystem::path& output, int sampleRate,
                                                int bitRate) override {
        return std::make_unique<AacFileWriter>(output, sampleRate, bitRate);
    }
    std::unique_ptr<SampleConverter> createConverter(int inputRate, int inputChannels,
                                                     int outputRate) override {
        return std::make_unique<AudioConverter>(inputRate, inputChannels, outputRate);
    }
    std::int64_t fileFrames(const std::filesystem::path& file) override { return audioFileFrames(file); }
};

// Clients, streams and their applications as the monitor last saw them: no I/O on the caller's
// thread but the /proc scan that only the Zoom probe asks for.
class SoundServerAudioSystem final : public AudioSystem {
public:
    explicit SoundServerAudioSystem(std::shared_ptr<SoundServerMonitor> monitor)
        : monitor_(std::move(monitor)) {}
    std::optional<SoundServerState> soundServerState() override { return monitor_->state(); }
    ApplicationOf applications() override { return monitor_->applications(); }
    std::vector<std::int32_t> processesRunning(const std::vector<std::string_view>& names) override {
        return platform::processesRunning(names);
    }

private:
    std::shared_ptr<SoundServerMonitor> monitor_;
};

} // namespace

std::shared_ptr<AudioCodec> ffmpegCodec() {
    return std::make_shared<FfmpegCodec>();
}

std::unique_ptr<CaptureSource> soundServerCapture() {
    return std::make_unique<PulseCapture>();
}

std::shared_ptr<SoundServerMonitor> soundServerMonitor() {
    return std::make_shared<SoundServerMonitor>();
}

std::shared_ptr<SoundServerMonitor> settledSoundServerMonitor() {
    auto monitor = soundServerMonitor();
    monitor->waitUntilSettled(soundServerSettleLimit);
    return monitor;
}

std::shared_ptr<AudioSystem> soundServerAudioSystem(std::shared_ptr<SoundServerMonitor> monitor) {
    return std::make_shared<SoundServerAudioSystem>(std::move(monitor));
}

std::shared_ptr<AudioSystem> soundServerAudioSystem() {
    return soundServerAudioSystem(settledSoundServerMonitor());
}

std::shared_ptr<SecretStore> desktopSecretStore() {
    return std::make_shared<DesktopSecretStore>();
}

AudioRecorderFactory soundServerRecorders() {
    return
        [codec = ffmpegCodec()] { return std::make_unique<SystemAudioRecorder>(soundServerCapture, codec); };
}

} // namespace parlo::platform
