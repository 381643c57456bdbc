#pragma once

namespace parlo {

// Turns call-activity observations into decisions to start and stop an automatic recording. Both
// edges are debounced: a call must be seen for `startDelay` before a recording starts and be gone
// for `endDelay` before it stops, so a short gap in a call's audio does not cut it in two. Times are
// seconds of a monotonic clock.
struct MeetingLifecycle {
    enum class Phase { idle, candidate, recording, manualRecording, ending, suppressed };
    enum class Action { none, start, stop };

    Phase phase = Phase::idle;
    double since = 0;
    double startDelay = 1.2;
    double endDelay = 3.0;

    Action update(bool callActive, bool enabled, double now);
};

} // namespace parlo
