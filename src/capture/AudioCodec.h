#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace parlo {

// Writes mono float samples into a compressed audio file. Every failure throws PlatformError.
class AudioEncoder {
public:
    virtual ~AudioEncoder() = default;
    // Hands samples to the encoder; they may be buffered until a whole encoder frame is full.
    virtual void write(std::span<const float> samples) = 0;
    // Flushes the encoder and completes the file. Required for a playable file.
    virtual void finish() = 0;
    // Samples handed to write() so far.
    virtual std::int64_t samplesWritten() const = 0;
};

// Continuous conversion of one source's interleaved float audio to mono float at another rate.
// Never flushed between buffers: consecutive buffers resample as one stream.
class SampleConverter {
public:
    virtual ~SampleConverter() = default;
    virtual int inputRate() const = 0;
    virtual int inputChannels() const = 0;
    // Converts `frames` interleaved frames into `out` (resized to what came out). Returns the output
    // frame count; throws PlatformError on failure.
    virtual int convert(const float* interleaved, int frames, std::vector<float>& out) = 0;
    // Output frames the filter holds back now: the next output's first frame belongs this long
    // before the next input's first frame.
    virtual double pendingOutputFrames() const = 0;
    // From now on gives `factor` times the nominal number of output frames per input frame (1.0:
    // the plain rate conversion), changing the resampling step, never dropping or repeating a
    // frame: how a source whose clock runs fast or slow is kept on time. Throws PlatformError.
    virtual void setCompensation(double factor) = 0;
};

// The platform's audio coding, which capture and mixing use without knowing the library behind it.
class AudioCodec {
public:
    virtual ~AudioCodec() = default;
    // A new AAC-in-MPEG-4 file at `output` (created or replaced). Throws PlatformError.
    virtual std::unique_ptr<AudioEncoder> createEncoder(const std::filesystem::path& output, int sampleRate,
                                                        int bitRate) = 0;
    // A converter from `inputRate` and `inputChannels` (averaged) to mono at `outputRate`. Throws
    // PlatformError for a format it cannot convert.
    virtual std::unique_ptr<SampleConverter> createConverter(int inputRate, int inputChannels,
                                                             int outputRate) = 0;
    // The length of a file's first audio stream in frames as the container declares it; 0 without
    // audio. Throws PlatformError when the file cannot be read.
    virtual std::int64_t fileFrames(const std::filesystem::path& file) = 0;
};

} // namespace parlo
