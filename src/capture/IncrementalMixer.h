#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace parlo {

class AudioCodec;
class AudioEncoder;
class AudioMixer;
class TimelineTrack;

// The mix of a recording made while it is recorded, so that the stop has only the last seconds
// to mix. It trails the furthest write of either track by `margin`, far enough that late blocks
// and audio after a break land ahead of it, and mixes whole seconds with AudioMixer's steps into
// the recording's hidden partial file, so that its samples are the ones the mix after the call
// would give. A write that lands behind it anyway, a sample cut by a short write, a failed read
// or encoder, or a step too slow for the audio queue to afford turns it unusable: the stop then
// mixes after the call as before.
//
// Not thread-safe: it runs on the recorder's audio queue, between the blocks.
class IncrementalMixer {
public:
    // Five seconds behind the furthest write: blocks reach the queue well within it.
    static constexpr std::int64_t margin = 5 * 16000;
    // A step that takes longer means the disk or the machine cannot keep up; the capture comes first.
    static constexpr std::chrono::milliseconds slowStep{500};

    // Creates the partial file and its encoder; the tracks' files must exist. Throws PlatformError.
    IncrementalMixer(const std::filesystem::path& folder, TimelineTrack& system, TimelineTrack& microphone,
                     AudioCodec& codec);
    // Abandons the partial file unless finish() completed it.
    ~IncrementalMixer();
    IncrementalMixer(const IncrementalMixer&) = delete;
    IncrementalMixer& operator=(const IncrementalMixer&) = delete;

    // After each block: mixes at most one second if the tracks have gone far enough past it.
    // Never throws: a failure makes the mixer unusable.
    void advance();
    bool usable() const { return encoder_ != nullptr; }
    std::int64_t mixedFrames() const { return mixed_; }

    // Once the tracks are closed: mixes the rest, completes the file and returns the duration in
    // seconds (every frame handed to the encoder / 16000), exactly as AudioMixer::mix would. Throws
    // PlatformError, also when the mixer was already unusable.
    double finish();

    // Drops the encoder and removes the partial file (unless finish() completed it).
    void abandon();

private:
    void giveUp(const char* why);

    std::filesystem::path partial_;
    TimelineTrack& system_;
    TimelineTrack& microphone_;
    std::unique_ptr<AudioMixer> mixer_;
    std::unique_ptr<AudioEncoder> encoder_;
    std::int64_t mixed_ = 0;
    bool finished_ = false;
};

} // namespace parlo
