#include "capture/CaptureHandler.h"

#include "capture/AudioCodec.h"
#include "capture/TimelineTrack.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cmath>
#include <limits>

namespace parlo {

namespace {

Q_LOGGING_CATEGORY(handlerLog, "parlo.capture")

const char* nameOf(CaptureSourceKind source) {
    return source == CaptureSourceKind::system ? "system audio" : "microphone";
}

} // namespace

CaptureHandler::CaptureHandler(AudioCodec& codec) : codec_(codec) {}
CaptureHandler::~CaptureHandler() = default;

void CaptureHandler::setTracks(TimelineTrack* system, TimelineTrack* microphone) {
    tracks_ = {system, microphone};
}

void CaptureHandler::reset() {
    origin_.reset();
    writeError_.clear();
    sources_ = {};
    levels_ = {};
    heardUntil_ = {};
}

const SampleConverter* CaptureHandler::converter(CaptureSourceKind source) const {
    return sources_[static_cast<std::size_t>(source)].converter.get();
}

std::optional<std::int64_t> CaptureHandler::writeHead(CaptureSourceKind source) const {
    return sources_[static_cast<std::size_t>(source)].next;
}

void CaptureHandler::handle(CaptureSourceKind source, int sampleRate, int channels,
                            std::span<const float> interleaved, const Placement& placement) {
    const auto key = static_cast<std::size_t>(source);
    if (key > 1 || sampleRate <= 0 || channels <= 0 || !std::isfinite(placement.time))
        return;
    const std::size_t frameCount = interleaved.size() / static_cast<std::size_t>(channels);
    if (frameCount < 1 || frameCount > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return;
    const int frames = static_cast<int>(frameCount);
    Source& state = sources_[key];

    // One converter per source, kept while the source's format stays; a new device's format gets a
    // new one, and the other source's converter is left alone.
    bool freshConverter = false;
    if (!state.converter || state.converter->inputRate() != sampleRate ||
        state.converter->inputChannels() != channels) {
        try {
            state.converter = codec_.createConverter(sampleRate, channels, TimelineTrack::sampleRate);
            freshConverter = true;
        } catch (const std::exception&) {
            state.converter.reset();
            return;
        }
    }
    // The filter holds back a few frames of earlier input: what comes out now started that much
    // before this block.
    const double pending = state.converter->pendingOutputFrames();
    const bool continuous = placement.continuous && !freshConverter && state.next.has_value() && origin_;

    // The rate: the source's drift, and a pull towards where the clock says this block belongs.
    double correction = 0.0;
    if (continuous) {
        const double due = (placement.time - *origin_) * TimelineTrack::sampleRate;
        const double ahead = (static_cast<double>(*state.next) + pending - due) / TimelineTrack::sampleRate;
        correction = std::clamp(-ahead / steeringSeconds, -maximumCorrection, maximumCorrection);
    }
    int produced = 0;
    try {
        state.converter->setCompensation((1.0 + placement.drift) * (1.0 + correction));
        produced = state.converter->convert(interleaved.data(), frames, converted_);
    } catch (const std::exception&) {
        return;
    }
    if (produced <= 0)
        return;

    const double t = placement.time - pending / TimelineTrack::sampleRate;
    if (!origin_)
        origin_ = t;
    const std::int64_t due = std::llround((t - *origin_) * TimelineTrack::sampleRate);
    std::int64_t position = due;
    if (state.next) {
        const std::int64_t step = due - *state.next;
        if (continuous || std::llabs(step) <= unnoticedStep) {
            position = *state.next;
        } else {
            qCInfo(handlerLog, "%s: %s of %.1f ms after a break", nameOf(source),
                   step > 0 ? "a silent gap" : "an overlap dropped",
                   static_cast<double>(std::llabs(step)) / 16.0);
        }
    }
    const std::span<const float> output(converted_.data(), static_cast<std::size_t>(produced));
    // Never over audio of this source already on the track, never before the origin.
    std::int64_t skip = std::max<std::int64_t>(state.next ? *state.next - position : 0, -position);
    skip = std::clamp<std::int64_t>(skip, 0, produced);
    if (skip < produced)
        write(state, tracks_[key], position + skip, output.subspan(static_cast<std::size_t>(skip)));
    state.next = std::max(position + produced, state.next.value_or(position + produced));

    float sum = 0.0f;
    for (float x : output)
        sum += x * x;
    levels_[key] = std::min(std::sqrt(sum / static_cast<float>(produced)) * 5.0f, 1.0f);
    heardUntil_[key] = t + static_cast<double>(produced) / TimelineTrack::sampleRate;
    const std::size_t other = 1 - key;
    if (t - heardUntil_[other] > staleLevelSeconds)
        levels_[other] = 0.0f;

    // One throttle for both sources: each report carries the latest level of each.
    if (t - lastLevelUpdate_ > levelInterval) {
        lastLevelUpdate_ = t;
        if (onLevel)
            onLevel(levels_[0], levels_[1]);
    }
}

void CaptureHandler::write(Source& source, TimelineTrack* track, std::int64_t position,
                           std::span<const float> output) {
    if (!track)
        return;
    try {
        track->write(output, static_cast<double>(position) / TimelineTrack::sampleRate);
        source.failing = false;
    } catch (const std::exception& error) {
        const auto* trackError = dynamic_cast<const TrackError*>(&error);
        writeError_ = trackError ? trackError->code() : std::make_error_code(std::errc::io_error);
        // One report per run of failures, of either track.
        const bool reported = sources_[0].failing || sources_[1].failing;
        source.failing = true;
        if (!reported) {
            qCWarning(handlerLog, "%s", error.what());
            if (onWriteFailure)
                onWriteFailure(writeError_);
        }
    }
}

} // namespace parlo
