#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>

namespace parlo::bench {

// 16 kHz audio that keeps an encoder as busy as speech would: voiced syllables (a few harmonics of
// a wandering pitch) about four times a second, breath noise, and pauses between phrases.
class SpeechLike {
public:
    static constexpr int rate = 16000;

    explicit SpeechLike(unsigned seed) : random_(seed), f0_(pitch_(random_)) {}

    // The next samples of the stream.
    void fill(std::span<float> out) {
        for (float& sample : out) {
            if (t_ >= syllableEnd_) {
                syllableStart_ = t_;
                syllableEnd_ = t_ + static_cast<std::int64_t>(syllable_(random_) * rate);
                pause_ = (random_() % 7) == 0;
                f0_ = pitch_(random_);
            }
            const double progress =
                static_cast<double>(t_ - syllableStart_) / static_cast<double>(syllableEnd_ - syllableStart_);
            const double envelope = pause_ ? 0.01 : std::sin(std::numbers::pi * progress);
            phase_ += 2 * std::numbers::pi * f0_ / rate;
            double voiced = 0;
            for (int h = 1; h <= 6; ++h)
                voiced += std::sin(phase_ * h) / h;
            sample = static_cast<float>(0.15 * envelope * voiced) + 0.01f * noise_(random_);
            ++t_;
        }
    }

private:
    std::mt19937 random_;
    std::uniform_real_distribution<float> noise_{-1.0f, 1.0f};
    std::uniform_real_distribution<double> pitch_{90.0, 220.0};
    std::uniform_real_distribution<double> syllable_{0.12, 0.35};
    double phase_ = 0;
    double f0_;
    std::int64_t t_ = 0;
    std::int64_t syllableStart_ = 0;
    std::int64_t syllableEnd_ = 0;
    bool pause_ = false;
};

} // namespace parlo::bench
