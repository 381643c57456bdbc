// Two minutes of white noise recorded from the test daemon, with ten seconds of heavy processor
// load in the middle: every stretch of both raw tracks is found in the noise that was played. No
// cut, no hole, and the two tracks stay on one timeline. Long: labelled "long"; PulseAudio only in
// CI (the Makefile's test-pipewire says why).
#include "capture/AudioCodec.h"
#include "capture/SystemAudioRecorder.h"
#include "support/TestSoundServer.h"
#include "support/TestSupport.h"
#include "support/TrackLocator.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>

using namespace std::chrono_literals;

extern "C" const char* __tsan_default_suppressions() {
    return "race:pa_mutex_lock\n"; // as in RecorderTest.cpp
}

namespace parlo {
namespace {

using namespace parlo::test;

// The noise as the recorder should have written it: mono at the tracks' rate.
std::vector<float> asTrack(const std::vector<float>& played) {
    auto converter = test::ffmpeg()->createConverter(playbackRate, 1, 16000);
    std::vector<float> out;
    converter->convert(played.data(), static_cast<int>(played.size()), out);
    return out;
}

void report(const char* name, const TrackTimeline& t) {
    std::printf("%s: %zu windows located, %d not; drift %+.0f ppm; worst step %.2f ms, %d cuts; "
                "longest hole %.2f ms, %d holes\n",
                name, t.windows.size(), t.unlocated, t.driftPpm, static_cast<double>(t.worstStep) / 16,
                t.cuts, static_cast<double>(t.longestHole) / 16, t.holes);
}

TEST(TimelineOnServerTest, NoiseStaysSampleTrueOnBothTracksThroughHeavyLoad) {
    // The microphone is remapped over the speakers' monitor: both sources hear the one noise, each
    // through its own stream, so their offset can be read directly.
    PrivateSoundServer server("speakers.monitor");
    ASSERT_TRUE(server.ready());
    QTemporaryDir dir;
    const auto folder = std::filesystem::path(dir.path().toStdString()) / "Recordings" / "long";
    const auto noise = whiteNoise(125.0, 19, 0.3f);
    SystemAudioRecorder recorder(platform::soundServerCapture, platform::ffmpegCodec());
    test::runTask(recorder.start(folder));
    std::vector<float> system;
    std::vector<float> microphone;
    {
        Player speakers(dir.path(), "speakers", noise, {}, 2000);
        test::spin(55s);
        {
            CpuLoad load(16);
            test::spin(10s);
        }
        test::spin(55s);
        // As they are before the stop mixes them and deletes them.
        system = readTrack(folder / "system.pcm");
        microphone = readTrack(folder / "microphone.pcm");
    }
    const CaptureResult result = test::runTask(recorder.stop(), 60s);
    EXPECT_GT(result.duration, 115.0);

    const auto played = asTrack(noise);
    const TrackTimeline systemTimeline = locateTrack(system, played, 3 * 16000);
    const TrackTimeline microphoneTimeline = locateTrack(microphone, played, 3 * 16000);
    report("system", systemTimeline);
    report("microphone", microphoneTimeline);
    for (const auto* timeline : {&systemTimeline, &microphoneTimeline}) {
        EXPECT_GT(timeline->windows.size(), 1100u) << "found through the whole recording";
        EXPECT_LE(timeline->unlocated, 2);
        EXPECT_EQ(timeline->cuts, 0) << "worst step " << timeline->worstStep << " frames";
        EXPECT_EQ(timeline->holes, 0) << "longest hole " << timeline->longestHole << " frames";
    }
    std::int64_t lowest = std::numeric_limits<std::int64_t>::max();
    std::int64_t highest = std::numeric_limits<std::int64_t>::min();
    for (const auto& window : systemTimeline.windows) {
        if (const auto other = microphoneTimeline.lagAt(window.position)) {
            lowest = std::min(lowest, window.lag - *other);
            highest = std::max(highest, window.lag - *other);
        }
    }
    std::printf("offset of the system track against the microphone's: %.2f to %.2f ms\n",
                static_cast<double>(lowest) / 16, static_cast<double>(highest) / 16);
    EXPECT_LE(std::max(std::llabs(lowest), std::llabs(highest)), 5 * 16) << "within 5 ms throughout";
}

} // namespace
} // namespace parlo
