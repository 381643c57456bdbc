#pragma once

#include <functional>
#include <limits>
#include <vector>

namespace parlo {

// Which of the two sources a buffer comes from; also the key of its converter.
enum class CaptureSourceKind { system = 0, microphone = 1 };

// One buffer as the capture service delivers it: interleaved float samples in the source's format,
// with what is needed to place it on the monotonic clock shared by both sources. Audio the service
// knows it lost comes as silence of its length, so that counting frames stays true to the source's
// clock; a break of unknown length is flagged instead.
struct CapturedChunk {
    CaptureSourceKind source = CaptureSourceKind::system;
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> samples; // interleaved, frames × channels
    double readTime = 0.0;      // CLOCK_MONOTONIC seconds when the buffer was read
    // Seconds from the moment the buffer's end was heard (just after its last frame) to the read;
    // may be negative for output audio that is read before it is played. NaN if unknown.
    double latency = std::numeric_limits<double>::quiet_NaN();
    // The service reported a break of unknown length before the first frame (the stream moved to
    // another device, the source was suspended and resumed, the server dropped audio).
    bool discontinuity = false;

    int frames() const {
        return channels > 0 ? static_cast<int>(samples.size() / static_cast<std::size_t>(channels)) : 0;
    }
};

// When a point of a block was read, and how long before that it was heard.
struct TimingReading {
    int frame = 0;         // the point: index in its block of the frame just after it
    double readTime = 0.0; // CLOCK_MONOTONIC seconds
    double latency = std::numeric_limits<double>::quiet_NaN(); // seconds, as in CapturedChunk
};

// Consecutive chunks of one source joined for the audio queue (see BlockJoiner): the queue carries
// a few blocks a second instead of a job per callback, and each track write is large.
struct CaptureBlock {
    CaptureSourceKind source = CaptureSourceKind::system;
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> samples; // interleaved, frames × channels
    std::vector<TimingReading> readings;
    bool discontinuity = false; // before the first frame, as in CapturedChunk

    int frames() const {
        return channels > 0 ? static_cast<int>(samples.size() / static_cast<std::size_t>(channels)) : 0;
    }
};

// The service that delivers the computer's sound (excluding our own playback) and the microphone.
// The real one talks to the sound server; tests substitute sources that deliver nothing or fail.
class CaptureSource {
public:
    using ChunkHandler = std::function<void(CapturedChunk&&)>;
    using StopHandler = std::function<void()>;

    virtual ~CaptureSource() = default;

    // Blocking. Checks that both sources exist. Throws ParloError(CaptureText::noSystemAudio) when
    // the service cannot be reached or has no output to record from, and
    // ParloError(CaptureText::noMicrophone) when it has no microphone.
    virtual void prepare() = 0;

    // Blocking. Connects both sources; returns once both are capturing. From then on `onChunk` is
    // called on the service's own thread (one call at a time) for every buffer of either source, and
    // `onStopped` once if the service ends the capture by itself. Both must only copy and post.
    // Throws PlatformError.
    virtual void start(ChunkHandler onChunk, StopHandler onStopped) = 0;

    // Blocking and idempotent, safe to call from two threads at once: after it returns no handler is
    // called any more, and everything the handlers did happened before.
    virtual void stop() = 0;
};

} // namespace parlo
