#pragma once

#include "capture/AudioCodec.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace parlo {

// Writes mono float samples as AAC in an MPEG-4 audio file (".m4a"), with FFmpeg's native AAC
// encoder and its iPod/MPEG-4 muxer. The file is created or replaced. All failures throw
// PlatformError with FFmpeg's description. Memory stays at one encoder frame whatever the length.
class AacFileWriter final : public AudioEncoder {
public:
    AacFileWriter(const std::filesystem::path& output, int sampleRate, int bitRate);
    ~AacFileWriter() override;
    AacFileWriter(const AacFileWriter&) = delete;
    AacFileWriter& operator=(const AacFileWriter&) = delete;

    // Hands samples to the encoder (they are gathered into encoder frames of 1024).
    void write(std::span<const float> samples) override;
    // Flushes the encoder, writes the trailer and closes the file. Required for a playable file.
    void finish() override;

    // Samples handed to the encoder so far.
    std::int64_t samplesWritten() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The decoded audio of a file: channel 0 as float, at the file's own rate.
struct DecodedAudio {
    int sampleRate = 0;
    std::vector<float> samples;
};

// Decodes the first audio stream of any file FFmpeg reads. Throws PlatformError.
DecodedAudio decodeAudioFile(const std::filesystem::path& file);

// The length of the first audio stream in frames as the container declares it (no decoding);
// 0 when the file holds no audio. Throws PlatformError when the file cannot be read.
std::int64_t audioFileFrames(const std::filesystem::path& file);

} // namespace parlo
