#pragma once

// Finds where each stretch of a recorded track lies in the signal that was played, by
// cross-correlation, to tell whether the recording is sample-true: a cut shows as a jump of the
// lag, a hole as a run of exact zeros, a clock running apart as a slope of the lag.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace parlo::test {

struct LocatedWindow {
    std::int64_t position; // first frame of the window in the track
    std::int64_t lag;      // track frame − signal frame
};

struct TrackTimeline {
    std::vector<LocatedWindow> windows; // in track order, where the signal was found
    int unlocated = 0;                  // windows with signal energy that matched nowhere
    std::int64_t worstStep = 0;         // largest change of the lag between neighbouring windows
    int cuts = 0;                       // changes larger than a millisecond
    std::int64_t longestHole = 0;       // longest run of exact zeros between the first and last window
    int holes = 0;                      // such runs longer than a millisecond
    double driftPpm = 0.0;              // slope of the lag against the track position

    // The lag of the window nearest `position`.
    std::optional<std::int64_t> lagAt(std::int64_t position) const {
        auto it = std::lower_bound(windows.begin(), windows.end(), position,
                                   [](const LocatedWindow& w, std::int64_t p) { return w.position < p; });
        if (it == windows.end())
            return std::nullopt;
        return it->lag;
    }
};

// Windows of `window` frames every `hop` frames of `track` are looked up in `signal` (same rate):
// the first within `searchRange` frames of lag 0, each next one near the previous lag, or within a
// quarter second of it after a cut.
inline TrackTimeline locateTrack(const std::vector<float>& track, const std::vector<float>& signal,
                                 std::int64_t searchRange, std::int64_t window = 800, std::int64_t hop = 1600,
                                 std::int64_t millisecond = 16) {
    TrackTimeline result;
    auto energy = [](const float* x, std::int64_t n) {
        double sum = 0;
        for (std::int64_t i = 0; i < n; ++i)
            sum += static_cast<double>(x[i]) * x[i];
        return sum;
    };
    std::vector<double> signalSquares(signal.size() + 1, 0.0); // prefix sums
    for (std::size_t i = 0; i < signal.size(); ++i)
        signalSquares[i + 1] = signalSquares[i] + static_cast<double>(signal[i]) * signal[i];
    // Normalised correlation of the track window at `p` with the signal at `p − lag`.
    auto correlation = [&](std::int64_t p, std::int64_t lag, double trackEnergy) {
        const std::int64_t q = p - lag;
        if (q < 0 || q + window > static_cast<std::int64_t>(signal.size()))
            return 0.0;
        const float* a = track.data() + p;
        const float* b = signal.data() + q;
        float dot = 0; // in float: fast enough even in a debug build, exact enough for a peak
        for (std::int64_t i = 0; i < window; ++i)
            dot += a[i] * b[i];
        const double signalEnergy =
            signalSquares[static_cast<std::size_t>(q + window)] - signalSquares[static_cast<std::size_t>(q)];
        return signalEnergy > 0 ? dot / std::sqrt(trackEnergy * signalEnergy) : 0.0;
    };
    auto best = [&](std::int64_t p, std::int64_t from, std::int64_t to, double trackEnergy) {
        std::pair<double, std::int64_t> found{0.0, 0};
        for (std::int64_t lag = from; lag <= to; ++lag)
            found = std::max(found, std::make_pair(correlation(p, lag, trackEnergy), lag));
        return found;
    };

    std::optional<std::int64_t> lag;
    const auto size = static_cast<std::int64_t>(track.size());
    for (std::int64_t p = 0; p + window <= size; p += hop) {
        const double trackEnergy = energy(track.data() + p, window);
        if (trackEnergy < 1e-4 * static_cast<double>(window))
            continue; // silence: before the signal starts, after it ends, or a hole
        std::pair<double, std::int64_t> found{0.0, 0};
        if (lag)
            found = best(p, *lag - 3 * millisecond, *lag + 3 * millisecond, trackEnergy);
        if (found.first < 0.5) {
            const std::int64_t range = lag ? 250 * millisecond : searchRange;
            found = best(p, (lag ? *lag : 0) - range, (lag ? *lag : 0) + range, trackEnergy);
        }
        if (found.first < 0.5) {
            ++result.unlocated;
            continue;
        }
        if (lag) {
            const std::int64_t step = std::llabs(found.second - *lag);
            result.worstStep = std::max(result.worstStep, step);
            result.cuts += step > millisecond ? 1 : 0;
        }
        lag = found.second;
        result.windows.push_back({p, found.second});
    }
    if (result.windows.size() >= 2) {
        const auto first = static_cast<std::size_t>(result.windows.front().position);
        const auto last = static_cast<std::size_t>(result.windows.back().position + window);
        std::int64_t run = 0;
        for (std::size_t i = first; i <= last && i <= track.size(); ++i) {
            if (i < track.size() && track[i] == 0.0f) {
                ++run;
                continue;
            }
            result.longestHole = std::max(result.longestHole, run);
            result.holes += run > millisecond ? 1 : 0;
            run = 0;
        }
        // Least squares of the lag over the position.
        double n = 0, sp = 0, sl = 0, spp = 0, spl = 0;
        for (const auto& w : result.windows) {
            const auto p = static_cast<double>(w.position);
            const auto l = static_cast<double>(w.lag);
            n += 1;
            sp += p;
            sl += l;
            spp += p * p;
            spl += p * l;
        }
        result.driftPpm = (n * spl - sp * sl) / (n * spp - sp * sp) * 1e6;
    }
    return result;
}

} // namespace parlo::test
