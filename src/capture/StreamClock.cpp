#include "capture/StreamClock.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cmath>
#include <limits>

namespace parlo {

namespace {

constexpr double windowSeconds = 1.0;
constexpr std::size_t historyWindows = 60;
// Below this span of readings a fitted slope is mostly noise.
constexpr double minimumSpan = 4.0;
// Beyond any sound card's crystal (they are off by tens to hundreds of ppm), and small enough that a
// slope misread from audio the server lost silently pitches the rest of the call by no more than a
// few cents (seen on PipeWire after a full disk: the estimate ran to its limit).
constexpr double maximumDrift = 0.002;
// Blocks held without enough readings (a source that reports no timing) are released anyway.
constexpr std::size_t maximumHeld = 50;
// Seconds of readings that, agreeing with each other within `shiftSpread` and all off the line by
// more than `shiftThreshold`, show a level shift rather than a busy spell (whose readings scatter).
constexpr std::size_t shiftWindows = 5;
constexpr double shiftThreshold = 0.002;
constexpr double shiftSpread = 0.001;

Q_LOGGING_CATEGORY(clockLog, "parlo.capture")

} // namespace

StreamClock::StreamClock(int discard, int sample)
    : discard_(std::max(0, discard))
    , sample_(std::max(1, sample)) {}

std::vector<StreamClock::Placed> StreamClock::add(CaptureBlock&& block) {
    if (block.sampleRate <= 0 || block.frames() < 1)
        return {};
    // A new format is a new device: a break like a reported one.
    const bool restart = block.discontinuity || (rate_ != 0 && block.sampleRate != rate_);
    rate_ = block.sampleRate;
    std::vector<Placed> out;
    if (restart) {
        // Blocks held from before the break are placed with what is known of them; the new
        // readings belong to the audio after it.
        if (!held_.empty())
            out = release();
        resyncing_ = true;
        skipped_ = 0;
        fresh_.clear();
        windows_.clear();
        current_.reset();
    }
    const double start = counted_;
    counted_ += static_cast<double>(block.frames()) / block.sampleRate;
    observe(block, start);

    if (!resyncing_) {
        const Placement placement = place(start, true);
        out.push_back(Placed{std::move(block), placement});
        return out;
    }
    held_.push_back(Held{std::move(block), start});
    if (static_cast<int>(fresh_.size()) < sample_ && held_.size() < maximumHeld)
        return out;
    for (auto& placed : release())
        out.push_back(std::move(placed));
    return out;
}

std::vector<StreamClock::Placed> StreamClock::flush() {
    if (held_.empty())
        return {};
    return release();
}

void StreamClock::observe(const CaptureBlock& block, double start) {
    for (const auto& reading : block.readings) {
        if (!std::isfinite(reading.readTime))
            continue;
        // Without a latency the read time alone still bounds when the audio was heard.
        const double latency = std::isfinite(reading.latency) ? reading.latency : 0.0;
        const double u = start + static_cast<double>(reading.frame) / block.sampleRate;
        const Point point{u, reading.readTime - latency - u};
        if (resyncing_) {
            if (skipped_ < discard_) {
                ++skipped_;
                // Better than nothing for a stop before the line is fixed.
                if (fresh_.empty() && (!earliest_ || point.y < earliest_->y))
                    earliest_ = point;
                continue;
            }
            fresh_.push_back(point);
        }
        if (current_ && point.u >= currentEnd_) {
            windows_.push_back(*current_);
            if (windows_.size() > historyWindows)
                windows_.pop_front();
            current_.reset();
        }
        if (!current_) {
            current_ = point;
            currentEnd_ = (std::floor(point.u / windowSeconds) + 1.0) * windowSeconds;
        } else if (point.y < current_->y) {
            current_ = point;
        }
    }
    if (!resyncing_)
        refit();
}

StreamClock::Line StreamClock::fit(std::span<const Point> points, double slope) {
    auto below = [&points](double through) {
        double intercept = std::numeric_limits<double>::infinity();
        for (const auto& p : points)
            intercept = std::min(intercept, p.y - through * p.u);
        return Line{intercept, through};
    };
    if (points.back().u - points.front().u < minimumSpan)
        return below(slope);
    // The lower convex hull; its edge under the points' mean is the line below all of them with
    // the least total distance to them.
    std::vector<Point> hull;
    double meanU = 0.0;
    for (const auto& p : points) {
        meanU += p.u;
        while (hull.size() >= 2) {
            const Point& a = hull[hull.size() - 2];
            const Point& b = hull.back();
            if ((b.u - a.u) * (p.y - a.y) - (b.y - a.y) * (p.u - a.u) > 0.0)
                break;
            hull.pop_back();
        }
        hull.push_back(p);
    }
    meanU /= static_cast<double>(points.size());
    std::size_t edge = 0;
    while (edge + 2 < hull.size() && hull[edge + 1].u < meanU)
        ++edge;
    const Point& a = hull[edge];
    const Point& b = hull[edge + 1];
    return below(std::clamp((b.y - a.y) / (b.u - a.u), -maximumDrift, maximumDrift));
}

void StreamClock::refit() {
    // The last few seconds agreeing on another level than the line before them: the source lost
    // or gained audio without saying so. The steering follows it gradually; the older readings
    // would only tilt the line.
    if (windows_.size() >= shiftWindows + 3) {
        const std::vector<Point> all(windows_.begin(), windows_.end());
        const std::span<const Point> older(all.data(), all.size() - shiftWindows);
        const Line before = fit(older, slope_);
        double low = std::numeric_limits<double>::infinity();
        double high = -low;
        for (std::size_t i = older.size(); i < all.size(); ++i) {
            low = std::min(low, all[i].y - before.at(all[i].u));
            high = std::max(high, all[i].y - before.at(all[i].u));
        }
        if ((low > shiftThreshold || high < -shiftThreshold) && high - low < shiftSpread) {
            qCInfo(clockLog, "readings moved by %.1f ms without a reported break; followed gradually",
                   (low + high) / 2 * 1000);
            windows_.erase(windows_.begin(), windows_.end() - static_cast<std::ptrdiff_t>(shiftWindows));
        }
    }
    std::vector<Point> points(windows_.begin(), windows_.end());
    if (current_)
        points.push_back(*current_);
    if (points.empty())
        return;
    line_ = fit(points, slope_);
    slope_ = line_->slope;
}

std::vector<StreamClock::Placed> StreamClock::release() {
    if (!fresh_.empty()) {
        double intercept = std::numeric_limits<double>::infinity();
        for (const auto& p : fresh_)
            intercept = std::min(intercept, p.y - slope_ * p.u);
        line_ = Line{intercept, slope_};
    } else if (earliest_ && !line_) {
        line_ = Line{earliest_->y - slope_ * earliest_->u, slope_};
    } else if (!line_) {
        line_ = Line{0.0, slope_}; // no reading at all: the timeline is the frame count
    }
    resyncing_ = false;
    skipped_ = 0;
    fresh_.clear();
    earliest_.reset();

    std::vector<Placed> out;
    out.reserve(held_.size());
    bool first = true;
    for (auto& held : held_) {
        const Placement placement = place(held.start, !first);
        out.push_back(Placed{std::move(held.block), placement});
        first = false;
    }
    held_.clear();
    return out;
}

Placement StreamClock::place(double start, bool continuous) const {
    return Placement{line_->at(start) + start, line_->slope, continuous};
}

} // namespace parlo
