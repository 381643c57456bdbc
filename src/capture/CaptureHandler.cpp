#include "capture/CaptureHandler.h"

#include "capture/AudioCodec.h"
#include "capture/TimelineTrack.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace parlo {

CaptureHandler::CaptureHandler(AudioCodec& codec) : codec_(codec) {}
CaptureHandler::~CaptureHandler() = default;

void CaptureHandler::setTracks(TimelineTrack* system, TimelineTrack* microphone) {
    tracks_ = {system, microphone};
}

void CaptureHandler::reset() {
    origin_.reset();
    writingError_ = nullptr;
    converters_[0].reset();
    converters_[1].reset();
}

const SampleConverter* CaptureHandler::converter(CaptureSourceKind source) const {
    return converters_[static_cast<std::size_t>(source)].get();
}

void CaptureHandler::handle(CaptureSourceKind source, int sampleRate, int channels,
                            std::span<const float> interleaved, double presentationTime) {
    const auto key = static_cast<std::size_t>(source);
    if (key > 1 || sampleRate <= 0 || channels <= 0)
        return;
    const std::size_t frameCount = interleaved.size() / static_cast<std::size_t>(channels);
    if (frameCount < 1 || frameCount > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return;
    const int frames = static_cast<int>(frameCount);

    // One converter per source, kept while the source's format stays; a new device's format gets a
    // new one, and the other source's converter is left alone.
    auto& converter = converters_[key];
    if (!converter || converter->inputRate() != sampleRate || converter->inputChannels() != channels) {
        try {
            converter = codec_.createConverter(sampleRate, channels, TimelineTrack::sampleRate);
        } catch (const std::exception&) {
            converter.reset();
            return;
        }
    }
    // The filter holds back a few frames of earlier input: what comes out now started that much
    // before this buffer. Placing it there keeps consecutive outputs end to end on the track.
    const double pending = converter->pendingOutputFrames();
    int produced = 0;
    try {
        produced = converter->convert(interleaved.data(), frames, converted_);
    } catch (const std::exception&) {
        return;
    }
    if (produced <= 0)
        return;

    const double t = presentationTime - pending / TimelineTrack::sampleRate;
    if (!std::isfinite(t))
        return;
    if (!origin_)
        origin_ = t;

    const std::span<const float> output(converted_.data(), static_cast<std::size_t>(produced));
    if (TimelineTrack* track = tracks_[key]) {
        try {
            track->write(output, std::max(t - *origin_, 0.0));
        } catch (...) {
            writingError_ = std::current_exception();
        }
    }

    float sum = 0.0f;
    for (float x : output)
        sum += x * x;
    levels_[key] = std::min(std::sqrt(sum / static_cast<float>(produced)) * 5.0f, 1.0f);

    // One throttle for both sources: each report carries the latest level of each.
    if (t - lastLevelUpdate_ > levelInterval) {
        lastLevelUpdate_ = t;
        if (onLevel)
            onLevel(levels_[0], levels_[1]);
    }
}

} // namespace parlo
