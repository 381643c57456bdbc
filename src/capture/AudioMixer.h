#pragma once

#include <filesystem>

namespace parlo {

class AudioCodec;

// Mixes the two raw tracks of a recording (16 kHz mono float, one shared timeline) into the AAC
// file the library keeps: a plain sum at unity gain, clipped to ±0.98, silence where a track has
// ended; the longer track sets the length. Runs on the caller's thread, one second per step, so
// memory stays bounded whatever the length.
class AudioMixer {
public:
    static constexpr std::size_t chunkBytes = 64000; // one second per track per step
    static constexpr float clipBound = 0.98f;
    static constexpr int sampleRate = 16000;
    static constexpr int bitRate = 48000;

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
};

} // namespace parlo
