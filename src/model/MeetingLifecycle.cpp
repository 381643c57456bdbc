#include "model/MeetingLifecycle.h"

namespace parlo {

MeetingLifecycle::Action MeetingLifecycle::update(bool callActive, bool enabled, double now) {
    const double elapsed = now - since;
    // A manual recording belongs to the user: nothing observed may start or stop anything.
    if (phase == Phase::manualRecording)
        return Action::none;

    if (!enabled) {
        // Switching off ends an automatic recording at once and forgets candidates and suppression.
        const bool running = phase == Phase::recording || phase == Phase::ending;
        phase = Phase::idle;
        return running ? Action::stop : Action::none;
    }

    switch (phase) {
    case Phase::idle:
        if (callActive) {
            phase = Phase::candidate;
            since = now;
        }
        return Action::none;
    case Phase::candidate:
        if (!callActive) {
            phase = Phase::idle;
            return Action::none;
        }
        if (elapsed >= startDelay) {
            phase = Phase::recording;
            return Action::start;
        }
        return Action::none;
    case Phase::recording:
        if (!callActive) {
            phase = Phase::ending;
            since = now;
        }
        return Action::none;
    case Phase::ending:
        if (callActive) {
            phase = Phase::recording;
            return Action::none;
        }
        if (elapsed >= endDelay) {
            phase = Phase::idle;
            return Action::stop;
        }
        return Action::none;
    case Phase::suppressed:
        // Every observation of the call pushes the end of the suppression further out.
        if (callActive) {
            since = now;
            return Action::none;
        }
        if (elapsed >= endDelay)
            phase = Phase::idle;
        return Action::none;
    case Phase::manualRecording:
        break;
    }
    return Action::none;
}

} // namespace parlo
