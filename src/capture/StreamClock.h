#pragma once

#include "capture/CaptureSource.h"

#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace parlo {

// Where the clock puts a block on the monotonic time both sources share.
struct Placement {
    double time = 0.0;  // when the block's first frame was heard, CLOCK_MONOTONIC seconds
    double drift = 0.0; // the source's clock against the monotonic one: seconds per nominal second − 1
    // It follows the previous block of its source without a break: it belongs right after it on
    // the track, and `time` only steers the rate. Otherwise it is placed at `time`.
    bool continuous = false;
};

// Follows one source's clock against CLOCK_MONOTONIC, so that its audio can be placed by counting
// frames and still stay on time over hours.
//
// Each timing reading says that the audio up to a point was heard no later than its read time minus
// its latency: a late callback (a busy machine) only makes a reading later, never earlier. So the
// clock keeps the lower envelope of the readings: the earliest reading of each second of audio, and
// over the last minute of those the line below them that hugs them closest (the lower convex hull's
// edge under their middle). Its slope is the source's drift; readings above it (a stall, a
// scheduling delay) do not move it. Until a few seconds of readings exist, the slope stays the one
// known before (zero at first).
//
// The first readings are unreliable, so blocks are held back until `discard` readings have passed
// and `sample` more have fixed the line; they are then released, the first one placed by its time
// and the rest counted after it. A break the service reports (a moved stream, a resumed source) is
// handled alike: the blocks after it are held until new readings place them, and the line starts
// over from there, keeping its slope. Readings that settle on another level without a reported
// break (the server dropped audio silently) restart the line too, but the steering follows them
// gradually: the track is never cut for them.
//
// Not thread-safe: it lives on the recorder's audio queue.
class StreamClock {
public:
    struct Placed {
        CaptureBlock block;
        Placement placement;
    };

    explicit StreamClock(int discard = 5, int sample = 20);

    // Takes the source's next block; returns the blocks whose place is now known, in order.
    std::vector<Placed> add(CaptureBlock&& block);

    // Releases whatever is still held back, placed with the best estimate available (at stop).
    std::vector<Placed> flush();

    bool anchored() const { return line_.has_value() && !resyncing_; }
    // The source's drift as estimated now (see Placement::drift).
    double drift() const { return slope_; }

private:
    struct Point {
        double u; // seconds of audio counted at the nominal rate
        double y; // reading time − latency − u
    };
    struct Line {
        double intercept;
        double slope;
        double at(double u) const { return intercept + slope * u; }
    };

    void observe(const CaptureBlock& block, double start);
    void refit();
    static Line fit(std::span<const Point> points, double slope);
    std::vector<Placed> release();
    Placement place(double start, bool continuous) const;

    int discard_;
    int sample_;
    int rate_ = 0;
    double counted_ = 0.0; // seconds of audio before the next block, at the nominal rate
    double slope_ = 0.0;
    std::optional<Line> line_;
    bool resyncing_ = true;        // holding blocks until readings place them
    int skipped_ = 0;              // readings passed over since holding began
    std::vector<Point> fresh_;     // readings taken since holding began
    std::deque<Point> windows_;    // the lowest reading of each whole second, oldest first
    std::optional<Point> current_; // the lowest of the second in progress
    double currentEnd_ = 0.0;
    std::optional<Point> earliest_; // the best of the discarded readings
    struct Held {
        CaptureBlock block;
        double start;
    };
    std::deque<Held> held_;
};

} // namespace parlo
