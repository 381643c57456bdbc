#pragma once

#include "capture/CaptureSource.h"

#include <deque>
#include <optional>
#include <vector>

namespace parlo {

// Places one source's buffers on the monotonic clock both sources share. Each buffer gives an
// estimate of when the source's frame 0 was captured: its read time minus the stream latency minus
// the audio delivered before it. Single readings jitter, and the sound server's first latency
// readings are off by up to 0.4 s, so the clock ignores the first `discard` readings, takes the
// median of the next `sample`, and from then on times buffers by counting frames from that anchor:
// consecutive buffers land exactly end to end. Buffers that arrive before the anchor is known are
// held back and released with it.
// When the audio jumps (the server lost some, the stream moved to another device that started
// late), readings settle more than `tolerance` away from the anchor. A buffer with such a reading is
// held back; once `confirm` such readings agree, the anchor moves to them and the held buffers are
// placed with it; a reading back near the anchor shows they were outliers, and they are placed as
// before. Not thread-safe: it lives on the recorder's audio queue.
class StreamClock {
public:
    struct Placed {
        CapturedChunk chunk;
        double time; // presentation time of its first frame, CLOCK_MONOTONIC seconds
    };

    explicit StreamClock(int discard = 10, int sample = 20, double tolerance = 0.03, int confirm = 3);

    // Takes the source's next buffer; returns the buffers whose time is now known, in order.
    std::vector<Placed> add(CapturedChunk&& chunk);

    // Releases whatever is still held back, timed with the best estimate available (at stop).
    std::vector<Placed> flush();

    bool anchored() const { return anchor_.has_value(); }

private:
    std::vector<Placed> release();
    std::vector<Placed> releaseSuspects(std::vector<Placed> out);
    static double median(std::vector<double> values);

    int discard_;
    int sample_;
    double tolerance_;
    int confirm_;
    double delivered_ = 0.0;        // seconds of audio before the next buffer
    int readings_ = 0;              // latency readings seen, including the discarded ones
    std::vector<double> estimates_; // kept readings before anchoring
    std::vector<double> early_;     // the discarded ones: better than nothing at a very early stop
    std::vector<double> suspects_;  // readings away from the anchor, of the buffers held in held_
    std::optional<double> anchor_;
    std::optional<double> firstReadTime_; // fallback when the server never reported a latency
    struct Held {
        CapturedChunk chunk;
        double offset; // seconds of audio before it
    };
    std::deque<Held> held_;
};

} // namespace parlo
