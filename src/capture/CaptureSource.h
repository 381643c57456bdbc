#pragma once

#include <functional>
#include <vector>

namespace parlo {

// Which of the two sources a buffer comes from; also the key of its converter.
enum class CaptureSourceKind { system = 0, microphone = 1 };

// One buffer as the capture service delivers it: interleaved float samples in the source's format,
// with what is needed to place it on the monotonic clock shared by both sources.
struct CapturedChunk {
    CaptureSourceKind source = CaptureSourceKind::system;
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> samples; // interleaved, frames × channels
    double readTime = 0.0;      // CLOCK_MONOTONIC seconds when the buffer was read
    double latency = -1.0;      // seconds between capture of its first frame and the read; < 0 if unknown

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
    // called on the service's own thread for every buffer of either source, and `onStopped` once if
    // the service ends the capture by itself. Both must only copy and post. Throws PlatformError.
    virtual void start(ChunkHandler onChunk, StopHandler onStopped) = 0;

    // Blocking and idempotent: after it returns no handler is called any more.
    virtual void stop() = 0;
};

} // namespace parlo
