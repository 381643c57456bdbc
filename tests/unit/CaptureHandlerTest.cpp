#include "capture/CaptureHandler.h"
#include "capture/AudioCodec.h"
#include "capture/TimelineTrack.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace parlo {
namespace {

using Kind = CaptureSourceKind;

// Interleaved stereo with the same sine on both channels, continuing from frame `start`.
std::vector<float> stereoSine(double hz, int rate, std::size_t start, std::size_t frames, float amplitude) {
    std::vector<float> v(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const auto x =
            amplitude *
            static_cast<float>(std::sin(2 * std::numbers::pi * hz * static_cast<double>(start + i) / rate));
        v[2 * i] = x;
        v[2 * i + 1] = x;
    }
    return v;
}

class CaptureHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        system = std::make_unique<TimelineTrack>(path("system.pcm"));
        microphone = std::make_unique<TimelineTrack>(path("microphone.pcm"));
        handler.setTracks(system.get(), microphone.get());
    }

    std::filesystem::path path(const char* name) const {
        return std::filesystem::path(dir.path().toStdString()) / name;
    }

    void closeTracks() {
        system->close();
        microphone->close();
    }

    QTemporaryDir dir;
    std::unique_ptr<TimelineTrack> system;
    std::unique_ptr<TimelineTrack> microphone;
    CaptureHandler handler{*test::ffmpeg()};
};

TEST_F(CaptureHandlerTest, FirstConvertedBufferOfEitherSourceIsTimeZeroOfBoth) {
    const std::vector<float> loud(480 * 2, 0.5f);
    handler.handle(Kind::microphone, 48000, 2, loud, {100.0});
    handler.handle(Kind::system, 48000, 2, loud, {100.3});
    ASSERT_TRUE(handler.origin().has_value());
    EXPECT_DOUBLE_EQ(*handler.origin(), 100.0);
    closeTracks();
    const auto track = test::readTrack(path("system.pcm"));
    ASSERT_GT(track.size(), 4800u + 100u);
    for (std::size_t i = 0; i < 4800; ++i)
        ASSERT_EQ(track[i], 0.0f) << i;
    EXPECT_NEAR(track[4800 + 100], 0.5f, 0.01f); // averaged stereo of 0.5 is 0.5
}

TEST_F(CaptureHandlerTest, AudioBeforeTheOriginIsDroppedAndTheRestKeepsItsPlace) {
    handler.handle(Kind::system, 48000, 2, std::vector<float>(480 * 2, 0.25f), {50.0});
    // 30 ms of microphone from 20 ms before time zero, then the 10 ms after it.
    handler.handle(Kind::microphone, 48000, 2, std::vector<float>(1440 * 2, 0.5f), {49.98});
    handler.handle(Kind::microphone, 48000, 2, std::vector<float>(480 * 2, 0.5f), {50.01, 0.0, true});
    closeTracks();
    const auto track = test::readTrack(path("microphone.pcm"));
    // Less the few frames the resampler's filter still holds at the end.
    EXPECT_NEAR(static_cast<double>(track.size()), 320, 24);
    EXPECT_EQ(static_cast<std::int64_t>(track.size()), microphone->receivedFrames()) << "no gap, no overlap";
    EXPECT_NEAR(track[100], 0.5f, 0.01f);
    EXPECT_NEAR(track[250], 0.5f, 0.01f);
}

TEST_F(CaptureHandlerTest, ConsecutiveBuffersResampleAsOneUnbrokenStream) {
    // 44.1 kHz in 441-frame buffers: each gives 160 frames on average, not always exactly. The
    // track must still hold one continuous sine, with no zero gaps or doubled samples at the seams.
    const int rate = 44100;
    for (int k = 0; k < 200; ++k) {
        const auto buffer = stereoSine(300, rate, static_cast<std::size_t>(k) * 441, 441, 0.5f);
        handler.handle(Kind::system, rate, 2, buffer, {10.0 + k * 0.01});
    }
    closeTracks();
    const auto track = test::readTrack(path("system.pcm"));
    ASSERT_NEAR(static_cast<double>(track.size()), 32000, 40);
    double worst = 0;
    for (std::size_t i = 200; i < 31500; ++i) {
        // The resampler delays its output by a few frames; find it by comparing to a sine shifted
        // by the delay measured at the start.
        const double expected = 0.5 * std::sin(2 * std::numbers::pi * 300 * static_cast<double>(i) / 16000);
        worst = std::max(worst, std::abs(track[i] - expected));
    }
    EXPECT_LT(worst, 0.05) << "seams or a delay between the buffers";
}

TEST(SampleConverterTest, CompensationChangesTheRateSmoothlyAndExactly) {
    auto converter = test::ffmpeg()->createConverter(48000, 2, 16000);
    std::vector<float> out;
    std::vector<float> all;
    for (int k = 0; k < 100; ++k) {
        // One part in a thousand faster from the second second on.
        if (k == 10)
            converter->setCompensation(1.001);
        converter->convert(stereoSine(50, 48000, static_cast<std::size_t>(k) * 4800, 4800, 0.5f).data(), 4800,
                           out);
        all.insert(all.end(), out.begin(), out.end());
    }
    EXPECT_NEAR(static_cast<double>(all.size()), 16000 + 9 * 16016, 20);
    // A 50 Hz sine at 16 kHz moves at most 0.0099 per frame: no seam, no skipped or doubled frame.
    for (std::size_t i = 100; i < all.size(); ++i)
        ASSERT_LT(std::abs(all[i] - all[i - 1]), 0.011f) << "frame " << i;
}

TEST_F(CaptureHandlerTest, NewFormatOfOneSourceGetsANewConverterForThatSourceOnly) {
    handler.handle(Kind::system, 48000, 2, std::vector<float>(960, 0.1f), {1.0});
    handler.handle(Kind::microphone, 48000, 2, std::vector<float>(960, 0.1f), {1.0});
    const SampleConverter* systemConverter = handler.converter(Kind::system);
    const SampleConverter* microphoneConverter = handler.converter(Kind::microphone);
    handler.handle(Kind::microphone, 48000, 2, std::vector<float>(960, 0.1f), {1.01});
    EXPECT_EQ(handler.converter(Kind::microphone), microphoneConverter);
    handler.handle(Kind::microphone, 44100, 1, std::vector<float>(441, 0.1f), {1.02});
    EXPECT_NE(handler.converter(Kind::microphone), microphoneConverter);
    EXPECT_EQ(handler.converter(Kind::system), systemConverter);
}

TEST_F(CaptureHandlerTest, BuffersThatGiveNothingNeitherSetTheOriginNorWrite) {
    handler.handle(Kind::system, 48000, 2, std::vector<float>(1, 0.1f), {1.0});            // half a frame
    handler.handle(Kind::system, 48000, 0, std::vector<float>(960, 0.1f), {1.0});          // no channels
    handler.handle(Kind::system, 48000, 2, {}, {1.0});                                     // empty
    handler.handle(Kind::system, 48000, 2, std::vector<float>(960, 0.1f), {std::nan("")}); // no time
    EXPECT_FALSE(handler.origin().has_value());
    EXPECT_EQ(system->receivedFrames(), 0);
}

TEST_F(CaptureHandlerTest, LevelsAreReportedTogetherAtMostEveryHundredFiftyMilliseconds) {
    std::vector<std::pair<float, float>> reports;
    handler.onLevel = [&](float s, float m) { reports.emplace_back(s, m); };
    // One second of 10 ms buffers: a loud system (RMS 0.21) and a silent microphone.
    for (int k = 0; k < 100; ++k) {
        handler.handle(Kind::system, 48000, 2,
                       stereoSine(440, 48000, static_cast<std::size_t>(k) * 480, 480, 0.3f),
                       {1000.0 + k * 0.01});
        handler.handle(Kind::microphone, 48000, 2, std::vector<float>(960, 0.0f), {1000.0 + k * 0.01});
    }
    ASSERT_GE(reports.size(), 6u);
    EXPECT_LE(reports.size(), 8u);
    for (std::size_t i = 1; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].first, 1.0f);
        EXPECT_EQ(reports[i].second, 0.0f);
    }
    // A quiet tone: RMS 0.0707 × 5.
    for (int k = 100; k < 130; ++k)
        handler.handle(Kind::system, 48000, 2,
                       stereoSine(440, 48000, static_cast<std::size_t>(k) * 480, 480, 0.1f),
                       {1000.0 + k * 0.01});
    EXPECT_NEAR(handler.systemLevel(), 0.354f, 0.02f);

    // A loud microphone whose stream stops delivering while the computer goes on reads silent
    // within a second, not at its last level for the rest of the call.
    auto play = [&](int from, int to, bool microphone) {
        for (int k = from; k < to; ++k) {
            const auto block = stereoSine(440, 48000, static_cast<std::size_t>(k) * 480, 480, 0.3f);
            handler.handle(Kind::system, 48000, 2, block, {1000.0 + k * 0.01});
            if (microphone)
                handler.handle(Kind::microphone, 48000, 2, block, {1000.0 + k * 0.01});
        }
    };
    play(130, 160, true);
    EXPECT_EQ(reports.back().second, 1.0f);
    play(160, 210, false);
    EXPECT_EQ(reports.back().second, 1.0f) << "half a second without a block is no silence yet";
    play(210, 300, false);
    EXPECT_EQ(reports.back().second, 0.0f);
    EXPECT_EQ(handler.microphoneLevel(), 0.0f);
    play(300, 320, true);
    EXPECT_EQ(reports.back().second, 1.0f);
}

TEST_F(CaptureHandlerTest, FullDiskIsReportedOnceAndAudioResumesAtItsPlace) {
    std::vector<std::error_code> reports;
    handler.onWriteFailure = [&](std::error_code error) { reports.push_back(error); };
    auto second = [&](int k, float value) {
        for (int i = 0; i < 10; ++i)
            handler.handle(Kind::system, 48000, 1, std::vector<float>(4800, value),
                           {100.0 + k + i * 0.1, 0.0, k + i > 0});
    };
    second(0, 0.25f);
    {
        // The file may not grow past its first second: every write of the next second fails.
        test::ScopedFileSizeLimit full(std::filesystem::file_size(path("system.pcm")));
        second(1, 0.5f);
    }
    ASSERT_EQ(reports.size(), 1u) << "one report for the whole run of failures";
    EXPECT_EQ(reports[0], std::errc::file_too_large);
    EXPECT_EQ(handler.writeError(), std::errc::file_too_large);
    EXPECT_GT(handler.systemLevel(), 0.0f) << "the capture went on";
    second(2, 0.75f);
    closeTracks();
    const auto track = test::readTrack(path("system.pcm"));
    ASSERT_NEAR(static_cast<double>(track.size()), 48000, 24);
    EXPECT_NEAR(track[8000], 0.25f, 0.01f);
    EXPECT_EQ(track[24000], 0.0f) << "the lost second reads as silence";
    EXPECT_NEAR(track[40000], 0.75f, 0.01f) << "the audio after it is at its own time";
}

} // namespace
} // namespace parlo
