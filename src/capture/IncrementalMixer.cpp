#include "capture/IncrementalMixer.h"

#include "capture/AudioCodec.h"
#include "capture/AudioMixer.h"
#include "capture/RecordingFinalizer.h"
#include "capture/TimelineTrack.h"
#include "core/ParloError.h"

#include <QLoggingCategory>

#include <algorithm>
#include <unistd.h>

namespace parlo {

namespace {

Q_LOGGING_CATEGORY(incrementalLog, "parlo.capture")

} // namespace

IncrementalMixer::IncrementalMixer(const std::filesystem::path& folder, TimelineTrack& system,
                                   TimelineTrack& microphone, AudioCodec& codec)
    : system_(system)
    , microphone_(microphone) {
    partial_ = RecordingFinalizer::createPartialFile(folder);
    try {
        mixer_ = std::make_unique<AudioMixer>(system.url(), microphone.url());
        encoder_ = codec.createEncoder(partial_, AudioMixer::sampleRate, AudioMixer::bitRate);
    } catch (...) {
        abandon();
        throw;
    }
}

IncrementalMixer::~IncrementalMixer() {
    abandon();
}

void IncrementalMixer::giveUp(const char* why) {
    qCWarning(incrementalLog, "the mix while recording stops at %.1f s (%s); the stop mixes the whole call",
              static_cast<double>(mixed_) / AudioMixer::sampleRate, why);
    abandon();
}

void IncrementalMixer::advance() {
    if (!encoder_)
        return;
    if (system_.changedBehindMix() || microphone_.changedBehindMix()) {
        giveUp("a track changed behind it");
        return;
    }
    const std::int64_t furthest = std::max(system_.endFrame(), microphone_.endFrame());
    if (furthest - margin < mixed_ + static_cast<std::int64_t>(AudioMixer::chunkFrames))
        return;
    const auto started = std::chrono::steady_clock::now();
    try {
        const std::size_t frames = mixer_->mixStep(mixed_, *encoder_);
        if (mixer_->cutASample()) {
            giveUp("a sample cut by a short write");
            return;
        }
        mixed_ += static_cast<std::int64_t>(frames);
    } catch (const std::exception& error) {
        giveUp(error.what());
        return;
    }
    system_.markMixedUpTo(mixed_);
    microphone_.markMixedUpTo(mixed_);
    if (std::chrono::steady_clock::now() - started > slowStep)
        giveUp("a step too slow for the audio queue");
}

double IncrementalMixer::finish() {
    if (!encoder_ || system_.changedBehindMix() || microphone_.changedBehindMix())
        throw PlatformError(std::string("The mix while recording is out of date"));
    while (const std::size_t frames = mixer_->mixStep(mixed_, *encoder_))
        mixed_ += static_cast<std::int64_t>(frames);
    encoder_->finish();
    encoder_.reset();
    // From here on the file belongs to the finalization, which renames or removes it.
    finished_ = true;
    return static_cast<double>(mixed_) / AudioMixer::sampleRate;
}

void IncrementalMixer::abandon() {
    encoder_.reset();
    mixer_.reset();
    if (!finished_ && !partial_.empty()) {
        ::unlink(partial_.c_str());
        partial_.clear();
    }
}

} // namespace parlo
