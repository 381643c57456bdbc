#pragma once

#include "core/ParloError.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <system_error>

namespace parlo {

// A failed write, seek, flush or close of a track, with the system's reason (ENOSPC for a full
// disk, EFBIG past the file size limit, EIO).
class TrackError final : public PlatformError {
public:
    TrackError(const std::string& description, std::error_code code) : PlatformError(description, code) {}
};

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
    // Audio written since the last flush to stable storage, at most: a power cut loses no more.
    static constexpr std::int64_t syncInterval = 2 * sampleRate;

    // Creates (or empties) the file with mode 0600 and opens it for writing. Throws PlatformError.
    explicit TimelineTrack(std::filesystem::path url);
    ~TimelineTrack();
    TimelineTrack(const TimelineTrack&) = delete;
    TimelineTrack& operator=(const TimelineTrack&) = delete;

    // Writes the samples at `seconds` after the origin, rounded half away from zero to a frame.
    // Silently ignores non-finite or out-of-window offsets and empty buffers. Throws TrackError
    // when the seek or write fails (receivedFrames is then unchanged) or the track is closed. Once
    // `syncInterval` frames have been written since the last flush, flushes the data to stable
    // storage (fdatasync) before returning: it runs on the writing thread, never the sound server's.
    void write(std::span<const float> samples, double seconds);

    // Flushes to stable storage and closes. Throws TrackError with the first failure.
    void close();

    const std::filesystem::path& url() const { return url_; }
    // Frames handed to successful writes; overlapping writes count twice.
    std::int64_t receivedFrames() const { return receivedFrames_; }
    // Frames written since the last flush to stable storage: what a power cut may take.
    std::int64_t unsyncedFrames() const { return unsyncedFrames_; }
    // The furthest frame a write reached or tried to reach: the file is at most this long.
    std::int64_t endFrame() const { return endFrame_; }

    // A reader has taken the frames before `frame` as final (the mix while recording); a later
    // write that starts before it sets changedBehindMix, and that reader's result is then stale.
    void markMixedUpTo(std::int64_t frame) { mixedUpTo_ = frame; }
    bool changedBehindMix() const { return changedBehindMix_; }

private:
    std::filesystem::path url_;
    int fd_ = -1;
    std::int64_t receivedFrames_ = 0;
    std::int64_t unsyncedFrames_ = 0;
    std::int64_t endFrame_ = 0;
    std::int64_t mixedUpTo_ = 0;
    bool changedBehindMix_ = false;
};

} // namespace parlo
