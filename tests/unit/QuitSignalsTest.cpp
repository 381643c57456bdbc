#include "shell/QuitProtocol.h"

#include <gtest/gtest.h>

using namespace parlo;
using namespace std::chrono_literals;
using Response = SignalCounter::Response;

TEST(SignalCounter, TheSecondSignalNeverCutsTheQuitShortAHurriedLaterOneDoes) {
    SignalCounter counter;
    const SignalCounter::Clock::time_point t0{};
    EXPECT_EQ(counter.onSignal(t0), Response::quit);
    EXPECT_EQ(counter.onSignal(t0 + 10ms), Response::wait) << "a supervisor repeating SIGTERM at once";
    EXPECT_EQ(counter.onSignal(t0 + 5s), Response::wait) << "a third long after the second";
    EXPECT_EQ(counter.onSignal(t0 + 7s), Response::endNow);
}
