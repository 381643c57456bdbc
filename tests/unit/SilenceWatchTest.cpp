#include "model/SilenceWatch.h"

#include <gtest/gtest.h>

using parlo::SilenceWatch;
using Warning = SilenceWatch::Warning;

TEST(SilenceWatchTest, OneSideSilentForTwentySecondsWhileTheOtherSpeaksIsNamedAndClearsWhenItReturns) {
    SilenceWatch watch;
    watch.reset(100);
    EXPECT_EQ(watch.update(0.3f, 0.0f, 119.9), Warning::none);
    EXPECT_EQ(watch.update(0.3f, 0.0f, 120.0), Warning::microphone);
    EXPECT_EQ(watch.update(0.3f, 0.01f, 125), Warning::microphone); // a quiet room is still silence
    EXPECT_EQ(watch.update(0.3f, 0.2f, 126), Warning::none);

    EXPECT_EQ(watch.update(0.0f, 0.2f, 145), Warning::none);
    EXPECT_EQ(watch.update(0.0f, 0.2f, 146), Warning::systemAudio);
}

TEST(SilenceWatchTest, BothSidesSilentAreAPauseUntilAMinuteHasPassed) {
    SilenceWatch watch;
    watch.reset(0);
    EXPECT_EQ(watch.update(0.0f, 0.0f, 30), Warning::none);
    EXPECT_EQ(watch.update(0.0f, 0.0f, 59.9), Warning::none);
    EXPECT_EQ(watch.update(0.0f, 0.0f, 60), Warning::both);
    EXPECT_EQ(watch.update(0.5f, 0.0f, 61), Warning::microphone);

    watch.reset(200); // a new recording starts with a clean slate
    EXPECT_EQ(watch.warning(), Warning::none);
    EXPECT_EQ(watch.update(0.0f, 0.0f, 210), Warning::none);
}
