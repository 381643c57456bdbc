#pragma once

namespace parlo {

// Tells, during a recording, that one side is not being captured: a muted or wrong microphone, or
// an output device other than the one whose sound is recorded. Fed with the two level meters and a
// monotonic time; keeps no clock of its own, so a test drives it without waiting.
class SilenceWatch {
public:
    enum class Warning { none, microphone, systemAudio, both };

    // Below this meter level a source counts as silent (a muted microphone reads 0, a quiet room a
    // little above; speech reads ten times more).
    static constexpr float quietLevel = 0.02f;
    // One source silent this long while the other carries sound.
    static constexpr double oneSideSeconds = 20;
    // Both silent this long.
    static constexpr double bothSeconds = 60;

    // A recording starts at `now`: neither source has been silent for long yet.
    void reset(double now);
    // The latest levels (0-1) at `now`; returns the warning that holds from now on.
    Warning update(float systemLevel, float microphoneLevel, double now);
    Warning warning() const { return warning_; }

private:
    double systemHeard_ = 0;
    double microphoneHeard_ = 0;
    Warning warning_ = Warning::none;
};

} // namespace parlo
