#pragma once

#include "capture/AudioRecorder.h"
#include "capture/CaptureSource.h"

#include <array>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace parlo {

class AudioCodec;
class SampleConverter;
class TimelineTrack;

// The per-buffer work of a recording, run on the audio queue for every buffer of either source:
// convert to 16 kHz mono, fix the shared origin, write the buffer at its place on its track, and
// update and report the levels. Bad buffers are dropped silently; a failed track write is kept
// for the stop. Not thread-safe: the audio queue serialises every call.
class CaptureHandler {
public:
    static constexpr double levelInterval = 0.15; // seconds of stream time between level reports

    explicit CaptureHandler(AudioCodec& codec);
    ~CaptureHandler();
    CaptureHandler(const CaptureHandler&) = delete;
    CaptureHandler& operator=(const CaptureHandler&) = delete;

    // The tracks the buffers go to (owned by the recorder); either may be null.
    void setTracks(TimelineTrack* system, TimelineTrack* microphone);
    // Forgets the origin, the last write error and the converters (a fresh start).
    void reset();

    // One buffer: `interleaved` holds frames × channels float samples at `sampleRate`;
    // `presentationTime` is the monotonic time of its first frame in seconds.
    void handle(CaptureSourceKind source, int sampleRate, int channels, std::span<const float> interleaved,
                double presentationTime);

    AudioRecorder::LevelHandler onLevel; // called from handle(), on the audio queue

    std::optional<double> origin() const { return origin_; }
    std::exception_ptr writingError() const { return writingError_; }
    float systemLevel() const { return levels_[0]; }
    float microphoneLevel() const { return levels_[1]; }
    // The converter currently used for a source, to tell whether a new one was made.
    const SampleConverter* converter(CaptureSourceKind source) const;

private:
    AudioCodec& codec_;
    std::array<TimelineTrack*, 2> tracks_{};
    std::array<std::unique_ptr<SampleConverter>, 2> converters_;
    std::vector<float> converted_;
    std::optional<double> origin_;
    std::exception_ptr writingError_;
    std::array<float, 2> levels_{0.0f, 0.0f};
    double lastLevelUpdate_ = 0.0;
};

} // namespace parlo
