#pragma once

#include "capture/AudioRecorder.h"
#include "capture/CaptureSource.h"
#include "capture/StreamClock.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

namespace parlo {

class AudioCodec;
class SampleConverter;
class TimelineTrack;

// The per-block work of a recording, run on the audio queue for every block of either source:
// convert to 16 kHz mono, fix the shared origin, write the block at its place on its track, and
// update and report the levels. Bad blocks are dropped silently.
//
// A source's audio is laid on its track end to end, by counting what the converter gives: a block
// that follows its predecessor without a break goes right after it, whatever its time says, so a
// late or early reading never cuts or pads the audio. The time of such a block only steers the
// converter's rate (the clock's drift, and a gentle pull towards the time) so that the track keeps
// pace with the monotonic clock. Only a block after a break is placed by its time; the gap before
// it stays silent, and what would overlap the audio already there is dropped.
//
// A failed track write is kept for the stop and reported once through onWriteFailure; the
// positions go on counting, so audio written after space returns lands at its right place.
// Not thread-safe: the audio queue serialises every call.
class CaptureHandler {
public:
    static constexpr double levelInterval = 0.15; // seconds of stream time between level reports
    // A source that has delivered nothing for this long while the other goes on reads as silent,
    // not at the level it last had: a stream that died while loud must not look alive.
    static constexpr double staleLevelSeconds = 1.0;
    // The pull towards the clock's time: an error of e seconds changes the rate by e / this, so it
    // fades with this time constant.
    static constexpr double steeringSeconds = 10.0;
    // At most this much faster or slower than the drift alone: 2 ms per second, far below what an
    // ear notices (3.5 cents).
    static constexpr double maximumCorrection = 0.002;
    // A break smaller than this (1 ms) leaves the audio end to end; the steering absorbs it.
    static constexpr std::int64_t unnoticedStep = 16;

    explicit CaptureHandler(AudioCodec& codec);
    ~CaptureHandler();
    CaptureHandler(const CaptureHandler&) = delete;
    CaptureHandler& operator=(const CaptureHandler&) = delete;

    // The tracks the blocks go to (owned by the recorder); either may be null.
    void setTracks(TimelineTrack* system, TimelineTrack* microphone);
    // Forgets the origin, the positions, the write failures and the converters (a fresh start).
    void reset();

    // One block: `interleaved` holds frames × channels float samples at `sampleRate`, placed as the
    // source's clock says.
    void handle(CaptureSourceKind source, int sampleRate, int channels, std::span<const float> interleaved,
                const Placement& placement);

    AudioRecorder::LevelHandler onLevel;               // called from handle(), on the audio queue
    AudioRecorder::WriteFailureHandler onWriteFailure; // likewise, once per run of failed writes

    std::optional<double> origin() const { return origin_; }
    // The reason of the latest failed track write; empty if none failed.
    std::error_code writeError() const { return writeError_; }
    float systemLevel() const { return levels_[0]; }
    float microphoneLevel() const { return levels_[1]; }
    // The converter currently used for a source, to tell whether a new one was made.
    const SampleConverter* converter(CaptureSourceKind source) const;
    // Where the source's next output frame goes on its track, in frames after the origin; empty
    // before the source's first block.
    std::optional<std::int64_t> writeHead(CaptureSourceKind source) const;

private:
    struct Source {
        std::unique_ptr<SampleConverter> converter;
        std::optional<std::int64_t> next; // track frame of the next output frame
        bool failing = false;             // its latest write failed
    };

    void write(Source& source, TimelineTrack* track, std::int64_t position, std::span<const float> output);

    AudioCodec& codec_;
    std::array<TimelineTrack*, 2> tracks_{};
    std::array<Source, 2> sources_;
    std::vector<float> converted_;
    std::optional<double> origin_;
    std::error_code writeError_;
    std::array<float, 2> levels_{0.0f, 0.0f};
    std::array<double, 2> heardUntil_{}; // stream time each source's latest block ended
    double lastLevelUpdate_ = 0.0;
};

} // namespace parlo
