#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace parlo {

class AudioCodec;
class AudioEncoder;

// Mixes the two raw tracks of a recording (16 kHz mono float, one shared timeline) into the AAC
// file the library keeps: a plain sum at unity gain, clipped to ±0.98, silence where a track has
// ended; the longer track sets the length. One second per step, so memory stays bounded whatever
// the length. The same steps serve the mix after the call (mix) and the one that runs while the
// call is recorded (IncrementalMixer), so both give the encoder the same samples.
class AudioMixer {
public:
    static constexpr std::size_t chunkBytes = 64000; // one second per track per step
    static constexpr std::size_t chunkFrames = chunkBytes / 4;
    static constexpr float clipBound = 0.98f;
    static constexpr int sampleRate = 16000;
    static constexpr int bitRate = 48000;

    // Opens both tracks for reading. Throws PlatformError.
    AudioMixer(const std::filesystem::path& system, const std::filesystem::path& microphone);
    ~AudioMixer();
    AudioMixer(const AudioMixer&) = delete;
    AudioMixer& operator=(const AudioMixer&) = delete;

    // Mixes up to one chunk starting at track frame `first` and hands it to `encoder`; fewer frames
    // only where both tracks end there. Returns the frames made (0 past the end of both). Throws
    // PlatformError for a failed read or encoder.
    std::size_t mixStep(std::int64_t first, AudioEncoder& encoder);
    // Whether the latest step ended inside a sample of a track (the last bytes of a short write):
    // while a track still grows, the rest of that sample may yet arrive.
    bool cutASample() const { return cutASample_; }

    // Writes `output` (created or replaced, mode 0600) and returns its duration in seconds: the
    // frames handed to the encoder / 16000. Throws PlatformError for unreadable input, unwritable
    // output or encoder failures; a partial output may then remain.
    static double mix(const std::filesystem::path& system, const std::filesystem::path& microphone,
                      const std::filesystem::path& output, AudioCodec& codec);

    // One step of the mix: out[i] = clip(s[i] + m[i]), where a sample missing from a chunk (past its
    // end, or its last incomplete bytes) and a NaN or infinity count as 0.0. Returns the frames made:
    // max(systemBytes, microphoneBytes) / 4.
    static std::size_t mixChunk(const char* system, std::size_t systemBytes, const char* microphone,
                                std::size_t microphoneBytes, float* out);

private:
    class Input;
    std::unique_ptr<Input> system_;
    std::unique_ptr<Input> microphone_;
    std::vector<char> systemChunk_;
    std::vector<char> microphoneChunk_;
    std::vector<float> mixed_;
    bool cutASample_ = false;
};

} // namespace parlo
