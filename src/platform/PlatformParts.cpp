#include "platform/PlatformParts.h"

#include "capture/AudioCodec.h"
#include "capture/SystemAudioRecorder.h"
#include "core/ParloError.h"
#include "detection/SoundServerState.h"
#include "platform/DesktopSecretStore.h"
#include "platform/ProcessAncestry.h"
#include "platform/PulseCapture.h"
#include "platform/SoundServerMonitor.h"

#include <QString>

#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <string>

namespace parlo::platform {

namespace {

// The codec module, loaded on first use and kept for the life of the process (what it made may
// outlive any owner). Loading happens once: the audio queue and the model may ask at the same time.
class LoadedCodec final : public AudioCodec {
public:
    explicit LoadedCodec(std::string module) : module_(std::move(module)) {}

    std::unique_ptr<AudioEncoder> createEncoder(const std::filesystem::path& output, int sampleRate,
                                                int bitRate) override {
        return codec().createEncoder(output, sampleRate, bitRate);
    }
    std::unique_ptr<SampleConverter> createConverter(int inputRate, int inputChannels,
                                                     int outputRate) override {
        return codec().createConverter(inputRate, inputChannels, outputRate);
    }
    std::int64_t fileFrames(const std::filesystem::path& file) override { return codec().fileFrames(file); }

private:
    AudioCodec& codec() {
        std::call_once(loaded_, [this] { load(); });
        if (!codec_)
            throw PlatformError(failure_);
        return *codec_;
    }

    void load() {
        void* module = ::dlopen(module_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            failure_ = std::string("Cannot load the audio codec: ") + ::dlerror();
            return;
        }
        using Create = AudioCodec* (*)();
        const auto create = reinterpret_cast<Create>(::dlsym(module, "parlo_create_audio_codec"));
        if (!create) {
            failure_ = "The audio codec module " + module_ + " has no entry point";
            return;
        }
        codec_.reset(create());
    }

    std::string module_;
    std::once_flag loaded_;
    std::unique_ptr<AudioCodec> codec_;
    std::string failure_;
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

// MELLO_PARLO_CODEC_MODULE when set (the tests, whose programs live elsewhere in the build tree),
// else the program's private library folder once installed (named relative to the program, so a
// package can be installed under any prefix), else beside the program (the build tree). Named in
// full rather than through a run path: a sanitizer intercepts dlopen and would search its own.
std::shared_ptr<AudioCodec> ffmpegCodec() {
    const QString chosen = qEnvironmentVariable("MELLO_PARLO_CODEC_MODULE");
    if (!chosen.isEmpty())
        return codecModule(chosen.toStdString());
    std::error_code error;
    const auto folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
    // Never a path relative to the working folder: without the program's own folder, only the
    // system's library folders are searched.
    if (error || !folder.is_absolute())
        return codecModule(PARLO_CODEC_MODULE);
    const auto installed = folder / PARLO_CODEC_MODULE_FROM_PROGRAM / PARLO_CODEC_MODULE;
    if (std::filesystem::exists(installed, error))
        return codecModule(installed.string());
    return codecModule((folder / PARLO_CODEC_MODULE).string());
}

std::shared_ptr<AudioCodec> codecModule(const std::string& module) {
    return std::make_shared<LoadedCodec>(module);
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
