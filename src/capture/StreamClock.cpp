#include "capture/StreamClock.h"

#include <algorithm>
#include <cmath>

namespace parlo {

namespace {

constexpr std::size_t maxHeld = 100;

} // namespace

StreamClock::StreamClock(int discard, int sample, double tolerance, int confirm)
    : discard_(discard)
    , sample_(std::max(1, sample))
    , tolerance_(tolerance)
    , confirm_(std::max(1, confirm)) {}

double StreamClock::median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

std::vector<StreamClock::Placed> StreamClock::add(CapturedChunk&& chunk) {
    const double offset = delivered_;
    if (chunk.sampleRate > 0)
        delivered_ += static_cast<double>(chunk.frames()) / chunk.sampleRate;
    if (!firstReadTime_)
        firstReadTime_ = chunk.readTime - offset;

    const bool hasReading =
        chunk.latency >= 0.0 && std::isfinite(chunk.latency) && std::isfinite(chunk.readTime);
    const double estimate = chunk.readTime - chunk.latency - offset;

    if (!anchor_) {
        if (hasReading)
            (readings_++ >= discard_ ? estimates_ : early_).push_back(estimate);
        held_.push_back(Held{std::move(chunk), offset});
        if (static_cast<int>(estimates_.size()) < sample_)
            return {};
        anchor_ = median(estimates_);
        estimates_.clear();
        early_.clear();
        return release();
    }

    const bool suspect = hasReading && std::abs(estimate - *anchor_) > tolerance_;
    if (!suspect && held_.empty()) {
        std::vector<Placed> out;
        out.push_back(Placed{std::move(chunk), *anchor_ + offset});
        return out;
    }
    held_.push_back(Held{std::move(chunk), offset});
    if (!hasReading)
        return {}; // decided together with the suspects before it
    if (!suspect) {
        // Back near the anchor: the held readings were outliers.
        suspects_.clear();
        return release();
    }
    // The latest few decide: earlier ones may belong to the transition.
    suspects_.push_back(estimate);
    if (static_cast<int>(suspects_.size()) > confirm_)
        suspects_.erase(suspects_.begin());
    if (static_cast<int>(suspects_.size()) < confirm_)
        return {};
    const auto [low, high] = std::minmax_element(suspects_.begin(), suspects_.end());
    // Readings that never settle are followed anyway after a second of held audio.
    if (*high - *low > tolerance_ && held_.size() < maxHeld)
        return {};
    anchor_ = median(suspects_);
    suspects_.clear();
    return release();
}

std::vector<StreamClock::Placed> StreamClock::flush() {
    if (held_.empty())
        return {};
    if (!anchor_) {
        if (!estimates_.empty())
            anchor_ = median(estimates_);
        else if (!early_.empty())
            anchor_ = median(early_);
        else
            anchor_ = firstReadTime_.value_or(0.0);
        estimates_.clear();
    }
    suspects_.clear();
    return release();
}

std::vector<StreamClock::Placed> StreamClock::release() {
    std::vector<Placed> out;
    out.reserve(held_.size());
    for (auto& held : held_)
        out.push_back(Placed{std::move(held.chunk), *anchor_ + held.offset});
    held_.clear();
    return out;
}

} // namespace parlo
