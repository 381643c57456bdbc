#include "platform/PlatformParts.h"

#include "capture/SystemAudioRecorder.h"
#include "detection/SoundServerState.h"
#include "platform/AacFileWriter.h"
#include "platform/AudioConverter.h"
#include "platform/DesktopSecretStore.h"
#include "platform/ProcessAncestry.h"
#include "platform/PulseCapture.h"
#include "platform/SoundServerProcesses.h"

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

class SoundServerAudioSystem final : public AudioSystem {
public:
    std::optional<SoundServerState> soundServerState() override { return querySoundServer(); }
    ApplicationOf applications() override {
        auto ancestry = std::make_shared<ProcessAncestry>();
        return [ancestry](std::int32_t pid) { return ancestry->applicationOf(pid); };
    }
    std::vector<std::int32_t> processesRunning(const std::vector<std::string_view>& names) override {
        return platform::processesRunning(names);
    }
};

} // namespace

std::shared_ptr<AudioCodec> ffmpegCodec() {
    return std::make_shared<FfmpegCodec>();
}

std::unique_ptr<CaptureSource> soundServerCapture() {
    return std::make_unique<PulseCapture>();
}

std::shared_ptr<AudioSystem> soundServerAudioSystem() {
    return std::make_shared<SoundServerAudioSystem>();
}

std::shared_ptr<SecretStore> desktopSecretStore() {
    return std::make_shared<DesktopSecretStore>();
}

AudioRecorderFactory soundServerRecorders() {
    return
        [codec = ffmpegCodec()] { return std::make_unique<SystemAudioRecorder>(soundServerCapture, codec); };
}

} // namespace parlo::platform
