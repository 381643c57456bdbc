#include "model/MeetingLifecycle.h"

#include <gtest/gtest.h>

using parlo::MeetingLifecycle;
using Phase = MeetingLifecycle::Phase;
using Action = MeetingLifecycle::Action;

namespace {

MeetingLifecycle at(Phase phase, double since = 0) {
    MeetingLifecycle lifecycle;
    lifecycle.phase = phase;
    lifecycle.since = since;
    return lifecycle;
}

struct Row {
    Phase phase;
    bool enabled;
    bool callActive;
    double now; // since is 10
    Phase expectedPhase;
    double expectedSince;
    Action expectedAction;
};

} // namespace

// Every row of the transition table, entered with since = 10.
TEST(MeetingLifecycle, TransitionTable) {
    const Row rows[] = {
        {Phase::manualRecording, true, true, 20, Phase::manualRecording, 10, Action::none},   // 1
        {Phase::manualRecording, false, false, 20, Phase::manualRecording, 10, Action::none}, // 1
        {Phase::recording, false, true, 20, Phase::idle, 10, Action::stop},                   // 2
        {Phase::ending, false, false, 20, Phase::idle, 10, Action::stop},                     // 3
        {Phase::idle, false, true, 20, Phase::idle, 10, Action::none},                        // 4
        {Phase::candidate, false, true, 20, Phase::idle, 10, Action::none},                   // 4
        {Phase::suppressed, false, true, 20, Phase::idle, 10, Action::none},                  // 4
        {Phase::idle, true, false, 20, Phase::idle, 10, Action::none},                        // 5
        {Phase::idle, true, true, 20, Phase::candidate, 20, Action::none},                    // 6
        {Phase::candidate, true, false, 20, Phase::idle, 10, Action::none},                   // 7
        {Phase::candidate, true, true, 11.25, Phase::recording, 10, Action::start},           // 8
        {Phase::candidate, true, true, 11.1, Phase::candidate, 10, Action::none},             // 9
        {Phase::recording, true, true, 20, Phase::recording, 10, Action::none},               // 10
        {Phase::recording, true, false, 20, Phase::ending, 20, Action::none},                 // 11
        {Phase::ending, true, true, 20, Phase::recording, 10, Action::none},                  // 12
        {Phase::ending, true, false, 13, Phase::idle, 10, Action::stop},                      // 13
        {Phase::ending, true, false, 12.9, Phase::ending, 10, Action::none},                  // 14
        {Phase::suppressed, true, true, 20, Phase::suppressed, 20, Action::none},             // 15
        {Phase::suppressed, true, false, 13, Phase::idle, 10, Action::none},                  // 16
        {Phase::suppressed, true, false, 12.9, Phase::suppressed, 10, Action::none},          // 17
    };
    int index = 0;
    for (const Row& row : rows) {
        MeetingLifecycle lifecycle = at(row.phase, 10);
        EXPECT_EQ(lifecycle.update(row.callActive, row.enabled, row.now), row.expectedAction)
            << "row " << index;
        EXPECT_EQ(lifecycle.phase, row.expectedPhase) << "row " << index;
        EXPECT_DOUBLE_EQ(lifecycle.since, row.expectedSince) << "row " << index;
        ++index;
    }
}

TEST(MeetingLifecycle, CallMustBeSeenWithoutABreakBeforeStarting) {
    MeetingLifecycle lifecycle;
    EXPECT_EQ(lifecycle.update(true, true, 10.0), Action::none);
    EXPECT_EQ(lifecycle.phase, Phase::candidate);
    EXPECT_EQ(lifecycle.update(true, true, 11.0), Action::none);
    EXPECT_EQ(lifecycle.update(true, true, 11.5), Action::start);
    EXPECT_EQ(lifecycle.phase, Phase::recording);

    // One stray observation falls back at the next tick without a call.
    MeetingLifecycle stray;
    stray.update(true, true, 0.0);
    EXPECT_EQ(stray.update(false, true, 0.8), Action::none);
    EXPECT_EQ(stray.phase, Phase::idle);
    EXPECT_EQ(stray.update(true, true, 1.6), Action::none);
    EXPECT_EQ(stray.phase, Phase::candidate);
}

TEST(MeetingLifecycle, AGapShorterThanTheEndDelayKeepsTheRecording) {
    MeetingLifecycle lifecycle = at(Phase::recording);
    lifecycle.update(false, true, 20.0);
    EXPECT_EQ(lifecycle.phase, Phase::ending);
    EXPECT_DOUBLE_EQ(lifecycle.since, 20.0);
    EXPECT_EQ(lifecycle.update(true, true, 21.5), Action::none);
    EXPECT_EQ(lifecycle.phase, Phase::recording);
    // A later gap counts anew from its own start.
    lifecycle.update(false, true, 30.0);
    EXPECT_EQ(lifecycle.update(false, true, 32.9), Action::none);
    EXPECT_EQ(lifecycle.update(false, true, 33.0), Action::stop);
    EXPECT_EQ(lifecycle.phase, Phase::idle);
}

TEST(MeetingLifecycle, SuppressionLastsForTheWholeCallPlusTheEndDelay) {
    MeetingLifecycle lifecycle = at(Phase::suppressed, 50.0);
    lifecycle.update(true, true, 60.0);
    EXPECT_DOUBLE_EQ(lifecycle.since, 60.0);
    EXPECT_EQ(lifecycle.update(false, true, 62.0), Action::none);
    EXPECT_EQ(lifecycle.phase, Phase::suppressed);
    EXPECT_EQ(lifecycle.update(false, true, 63.0), Action::none); // never a stop
    EXPECT_EQ(lifecycle.phase, Phase::idle);
}

TEST(MeetingLifecycle, SwitchingOffStopsAutomaticButNeverManualRecordings) {
    MeetingLifecycle automatic = at(Phase::recording);
    EXPECT_EQ(automatic.update(true, false, 5), Action::stop);
    EXPECT_EQ(automatic.phase, Phase::idle);

    MeetingLifecycle manual = at(Phase::manualRecording);
    for (bool enabled : {true, false})
        for (bool call : {true, false})
            EXPECT_EQ(manual.update(call, enabled, 100), Action::none);
    EXPECT_EQ(manual.phase, Phase::manualRecording);
}
