#pragma once

#include "capture/AudioCodec.h"

namespace parlo {

// The audio coding of the program, with FFmpeg: AAC files, resampling, container lengths. Built
// twice: into the tests directly, and as the module the program loads when it first codes audio
// (FFmpeg and the libraries it pulls in hold about 20 MB that an idle program would carry).
class FfmpegCodec final : public AudioCodec {
public:
    std::unique_ptr<AudioEncoder> createEncoder(const std::filesystem::path& output, int sampleRate,
                                                int bitRate) override;
    std::unique_ptr<SampleConverter> createConverter(int inputRate, int inputChannels,
                                                     int outputRate) override;
    std::int64_t fileFrames(const std::filesystem::path& file) override;
};

} // namespace parlo

// The module's entry: a new codec, owned by the caller.
extern "C" parlo::AudioCodec* parlo_create_audio_codec();
