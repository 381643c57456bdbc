#include "codec/AudioConverter.h"

#include "core/ParloError.h"

#include <cmath>
#include <string>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace parlo {

namespace {

void check(int code, const char* what) {
    if (code < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(code, text, sizeof text);
        throw PlatformError(std::string(what) + ": " + text);
    }
}

// Sub-frame precision for the pending count.
constexpr std::int64_t delayScale = 256;

// Output frames over which a compensation is spread: beyond any recording (18 hours at 16 kHz),
// so that it never runs out and falls back to the plain rate by itself.
constexpr int compensationDistance = 1 << 30;

} // namespace

struct AudioConverter::Impl {
    SwrContext* context = nullptr;
    ~Impl() { swr_free(&context); }
};

AudioConverter::AudioConverter(int inputRate, int inputChannels, int outputRate)
    : impl_(std::make_unique<Impl>())
    , inputRate_(inputRate)
    , inputChannels_(inputChannels)
    , outputRate_(outputRate) {
    if (outputRate <= 0 || inputRate <= 0 || inputChannels <= 0 || inputChannels > 64)
        throw PlatformError("Unsupported audio format: " + std::to_string(inputRate) + " Hz, " +
                            std::to_string(inputChannels) + " channels");
    AVChannelLayout in{};
    AVChannelLayout out{};
    av_channel_layout_default(&in, inputChannels);
    av_channel_layout_default(&out, 1);
    check(swr_alloc_set_opts2(&impl_->context, &out, AV_SAMPLE_FMT_FLT, outputRate_, &in, AV_SAMPLE_FMT_FLT,
                              inputRate, 0, nullptr),
          "Cannot create an audio converter");
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    // One output row: every input channel weighs the same, summing to unity.
    std::vector<double> matrix(static_cast<std::size_t>(inputChannels), 1.0 / inputChannels);
    check(swr_set_matrix(impl_->context, matrix.data(), inputChannels), "Cannot set the downmix");
    // Always through the resampler, even between equal rates, so that compensation can be set later
    // without a new start that would lose the filter's state.
    check(av_opt_set_int(impl_->context, "flags", SWR_FLAG_RESAMPLE, 0), "Cannot set the resampler");
    check(swr_init(impl_->context), "Cannot start the audio converter");
    // The first compensation rebuilds the filter bank with finer phases; done now, before any
    // audio, the rebuild never meets a filter in the middle of a step.
    check(swr_set_compensation(impl_->context, 1, compensationDistance), "Cannot prepare compensation");
    check(swr_set_compensation(impl_->context, 0, 0), "Cannot prepare compensation");
}

AudioConverter::~AudioConverter() = default;

int AudioConverter::convert(const float* interleaved, int frames, std::vector<float>& out) {
    // The exact resampled length plus room for what the filter releases from earlier input.
    const auto capacity =
        static_cast<int>(static_cast<std::int64_t>(frames) * outputRate_ / inputRate_ + 256);
    if (out.capacity() < static_cast<std::size_t>(capacity))
        out.reserve(static_cast<std::size_t>(capacity));
    out.resize(static_cast<std::size_t>(capacity));
    auto* output = reinterpret_cast<uint8_t*>(out.data());
    const auto* input = reinterpret_cast<const uint8_t*>(interleaved);
    const int produced = swr_convert(impl_->context, &output, capacity, &input, frames);
    check(produced, "Cannot convert audio");
    out.resize(static_cast<std::size_t>(produced));
    return produced;
}

void AudioConverter::setCompensation(double factor) {
    if (factor == factor_)
        return;
    // The resampler takes a step of (1 − delta / distance) times the nominal one per output frame,
    // so delta / distance = 1 − 1 / factor.
    const auto delta = std::llround((1.0 - 1.0 / factor) * compensationDistance);
    if (delta < -compensationDistance / 2 || delta > compensationDistance / 2)
        throw PlatformError("Cannot compensate by a factor of " + std::to_string(factor));
    check(
        swr_set_compensation(impl_->context, static_cast<int>(delta), delta == 0 ? 0 : compensationDistance),
        "Cannot compensate the audio clock");
    factor_ = factor;
}

double AudioConverter::pendingOutputFrames() const {
    return static_cast<double>(
               swr_get_delay(impl_->context, static_cast<std::int64_t>(outputRate_) * delayScale)) /
           static_cast<double>(delayScale);
}

} // namespace parlo
