#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace parlo {

// One raw track of a recording: headerless 32-bit little-endian float, mono, 16 kHz. Frame n lies at
// byte 4n and belongs to n / 16000 s after the capture origin, which both tracks of a recording
// share; so sample n of "system.pcm" and of "microphone.pcm" were heard at the same moment. Each
// write goes straight to its place in the file; gaps read back as silence.
//
// Not thread-safe: the recorder writes and closes it on its one serial audio queue.
class TimelineTrack {
public:
    static constexpr int sampleRate = 16000;
    // Writes below this offset (seconds) are dropped; between it and 0 they start at frame 0.
    static constexpr double earliestOffset = -1.0;
    // Five seconds past the two-hour limit: audio at or after it is dropped.
    static constexpr double latestOffset = 7205.0;

    // Creates (or empties) the file with mode 0600 and opens it for writing. Throws PlatformError.
    explicit TimelineTrack(std::filesystem::path url);
    ~TimelineTrack();
    TimelineTrack(const TimelineTrack&) = delete;
    TimelineTrack& operator=(const TimelineTrack&) = delete;

    // Writes the samples at `seconds` after the origin, rounded half away from zero to a frame.
    // Silently ignores non-finite or out-of-window offsets and empty buffers. Throws PlatformError
    // when the seek or write fails (receivedFrames is then unchanged) or the track is closed.
    void write(std::span<const float> samples, double seconds);

    // Flushes to stable storage and closes. Throws PlatformError with the first failure.
    void close();

    const std::filesystem::path& url() const { return url_; }
    // Frames handed to successful writes; overlapping writes count twice.
    std::int64_t receivedFrames() const { return receivedFrames_; }

private:
    std::filesystem::path url_;
    int fd_ = -1;
    std::int64_t receivedFrames_ = 0;
};

} // namespace parlo
