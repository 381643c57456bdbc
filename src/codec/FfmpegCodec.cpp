#include "codec/FfmpegCodec.h"

#include "codec/AacFileWriter.h"
#include "codec/AudioConverter.h"

namespace parlo {

std::unique_ptr<AudioEncoder> FfmpegCodec::createEncoder(const std::filesystem::path& output, int sampleRate,
                                                         int bitRate) {
    return std::make_unique<AacFileWriter>(output, sampleRate, bitRate);
}

std::unique_ptr<SampleConverter> FfmpegCodec::createConverter(int inputRate, int inputChannels,
                                                              int outputRate) {
    return std::make_unique<AudioConverter>(inputRate, inputChannels, outputRate);
}

std::int64_t FfmpegCodec::fileFrames(const std::filesystem::path& file) {
    return audioFileFrames(file);
}

} // namespace parlo

extern "C" parlo::AudioCodec* parlo_create_audio_codec() {
    return new parlo::FfmpegCodec();
}
