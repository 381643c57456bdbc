// The mix made while recording must give the file the mix after the call gives from the same tracks.
#include "capture/IncrementalMixer.h"
#include "capture/AudioMixer.h"
#include "capture/RecordingFinalizer.h"
#include "capture/TimelineTrack.h"
#include "codec/AacFileWriter.h"
#include "core/ParloError.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace parlo {
namespace {

namespace fs = std::filesystem;

constexpr int rate = 16000;
constexpr std::int64_t block = rate / 10;

// One block of a tone starting at frame `first`, loud enough that the sum of both tracks clips.
std::vector<float> toneBlock(double hz, std::int64_t first, std::int64_t frames) {
    std::vector<float> v(static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = 0.6f *
               static_cast<float>(std::sin(2 * std::numbers::pi * hz *
                                           static_cast<double>(first + static_cast<std::int64_t>(i)) / rate));
    return v;
}

class IncrementalMixerTest : public ::testing::Test {
protected:
    fs::path folder() const { return fs::path(dir.path().toStdString()); }
    QTemporaryDir dir;
    TimelineTrack system{folder() / RecordingFinalizer::systemTrackName};
    TimelineTrack microphone{folder() / RecordingFinalizer::microphoneTrackName};
};

TEST_F(IncrementalMixerTest, DecodesToTheSameSamplesAsTheMixAfterTheCall) {
    IncrementalMixer mixer(folder(), system, microphone, *test::ffmpeg());
    // 30.05 s of system audio; the microphone trails by 0.3 s, breaks off between 8 s and 12 s (a
    // silent gap), carries NaN and infinities, and ends at 20 s; the mixer steps after each block.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::int64_t k = 0; k * block < 30 * rate + 800; ++k) {
        const std::int64_t first = k * block;
        const std::int64_t frames = std::min<std::int64_t>(block, 30 * rate + 800 - first);
        system.write(toneBlock(440, first, frames), static_cast<double>(first) / rate);
        mixer.advance();
        const std::int64_t micFirst = first - 3 * block;
        if (micFirst >= 0 && micFirst < 20 * rate && (micFirst < 8 * rate || micFirst >= 12 * rate)) {
            auto samples = toneBlock(1000, micFirst, block);
            samples[7] = nan;
            samples[8] = std::numeric_limits<float>::infinity();
            microphone.write(samples, static_cast<double>(micFirst) / rate);
            mixer.advance();
        }
    }
    EXPECT_GE(mixer.mixedFrames(), 20 * rate) << "most of it was mixed while recording";
    system.close();
    microphone.close();
    ASSERT_TRUE(mixer.usable());
    const double duration = mixer.finish();

    const fs::path offline = folder() / "offline.m4a";
    EXPECT_DOUBLE_EQ(duration, AudioMixer::mix(system.url(), microphone.url(), offline, *test::ffmpeg()));
    EXPECT_DOUBLE_EQ(duration, 30.05);
    const DecodedAudio incremental = decodeAudioFile(folder() / RecordingFinalizer::partialFileName);
    const DecodedAudio reference = decodeAudioFile(offline);
    ASSERT_NEAR(static_cast<double>(incremental.samples.size()),
                static_cast<double>(reference.samples.size()), 1024);
    const std::size_t common = std::min(incremental.samples.size(), reference.samples.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < common; ++i)
        differing += incremental.samples[i] != reference.samples[i];
    EXPECT_EQ(differing, 0u);
}

TEST_F(IncrementalMixerTest, AWriteBehindTheMixMakesItUnusableAndAbandonRemovesItsFile) {
    IncrementalMixer mixer(folder(), system, microphone, *test::ffmpeg());
    const fs::path partial = folder() / RecordingFinalizer::partialFileName;
    EXPECT_TRUE(fs::exists(partial));
    system.write(std::vector<float>(8 * rate, 0.1f), 0.0);
    mixer.advance();
    ASSERT_EQ(mixer.mixedFrames(), rate);
    // A microphone block that arrives far too late for its place.
    microphone.write(std::vector<float>(block, 0.1f), 0.5);
    mixer.advance();
    EXPECT_FALSE(mixer.usable());
    EXPECT_THROW(mixer.finish(), PlatformError);
    EXPECT_FALSE(fs::exists(partial));
}

} // namespace
} // namespace parlo
