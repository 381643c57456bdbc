#pragma once

#include "capture/AudioCodec.h"

#include <memory>
#include <vector>

namespace parlo {

// Continuous conversion of one source's interleaved float audio to the working format (float,
// 16 kHz, mono) with libswresample. Several channels are averaged (each weighs 1/channels, so a
// stereo source is 0.5·(L+R): the library's default downmix would be 3 dB louder). Never flushed
// between buffers: the filter keeps its state, so consecutive buffers resample as one stream.
class AudioConverter final : public SampleConverter {
public:
    // Throws PlatformError when libswresample refuses the format.
    AudioConverter(int inputRate, int inputChannels, int outputRate);
    ~AudioConverter() override;
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    int inputRate() const override { return inputRate_; }
    int inputChannels() const override { return inputChannels_; }

    // Converts `frames` interleaved frames into `out` (resized to what came out; its capacity is
    // kept between calls). Returns the output frame count; throws PlatformError on failure.
    int convert(const float* interleaved, int frames, std::vector<float>& out) override;

    // Output frames the filter holds back at this moment: the next output's first frame belongs
    // this long before the next input's first frame.
    double pendingOutputFrames() const override;

    // swr_set_compensation over a distance no recording reaches, so that the factor holds until
    // the next call. Its resolution is about one part per million.
    void setCompensation(double factor) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int inputRate_;
    int inputChannels_;
    int outputRate_;
    double factor_ = 1.0;
};

} // namespace parlo
