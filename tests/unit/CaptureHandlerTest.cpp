#include "capture/CaptureHandler.h"
#include "capture/AudioCodec.h"
#include "capture/StreamClock.h"
#include "capture/TimelineTrack.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <vector>

namespace parlo {
namespace {

using Kind = CaptureSourceKind;

std::vector<float> readTrack(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

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
    handler.handle(Kind::microphone, 48000, 2, loud, 100.0);
    handler.handle(Kind::system, 48000, 2, loud, 100.3);
    ASSERT_TRUE(handler.origin().has_value());
    EXPECT_DOUBLE_EQ(*handler.origin(), 100.0);
    closeTracks();
    const auto track = readTrack(path("system.pcm"));
    ASSERT_GT(track.size(), 4800u + 100u);
    for (std::size_t i = 0; i < 4800; ++i)
        ASSERT_EQ(track[i], 0.0f) << i;
    EXPECT_NEAR(track[4800 + 100], 0.5f, 0.01f); // averaged stereo of 0.5 is 0.5
}

TEST_F(CaptureHandlerTest, BufferStampedBeforeTheOriginIsWrittenAtTheStart) {
    handler.handle(Kind::system, 48000, 2, std::vector<float>(480 * 2, 0.25f), 50.0);
    handler.handle(Kind::microphone, 48000, 2, std::vector<float>(480 * 2, 0.5f), 49.7);
    closeTracks();
    const auto track = readTrack(path("microphone.pcm"));
    ASSERT_FALSE(track.empty());
    EXPECT_LT(track.size(), 200u);
    EXPECT_NEAR(track[100], 0.5f, 0.01f);
    EXPECT_GT(microphone->receivedFrames(), 0);
}

TEST_F(CaptureHandlerTest, ConsecutiveBuffersResampleAsOneUnbrokenStream) {
    // 44.1 kHz in 441-frame buffers: each gives 160 frames on average, not always exactly. The
    // track must still hold one continuous sine, with no zero gaps or doubled samples at the seams.
    const int rate = 44100;
    for (int k = 0; k < 200; ++k) {
        const auto buffer = stereoSine(300, rate, static_cast<std::size_t>(k) * 441, 441, 0.5f);
        handler.handle(Kind::system, rate, 2, buffer, 10.0 + k * 0.01);
    }
    closeTracks();
    const auto track = readTrack(path("system.pcm"));
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

TEST_F(CaptureHandlerTest, NewFormatOfOneSourceGetsANewConverterForThatSourceOnly) {
    handler.handle(Kind::system, 48000, 2, std::vector<float>(960, 0.1f), 1.0);
    handler.handle(Kind::microphone, 48000, 2, std::vector<float>(960, 0.1f), 1.0);
    const SampleConverter* systemConverter = handler.converter(Kind::system);
    const SampleConverter* microphoneConverter = handler.converter(Kind::microphone);
    handler.handle(Kind::microphone, 48000, 2, std::vector<float>(960, 0.1f), 1.01);
    EXPECT_EQ(handler.converter(Kind::microphone), microphoneConverter);
    handler.handle(Kind::microphone, 44100, 1, std::vector<float>(441, 0.1f), 1.02);
    EXPECT_NE(handler.converter(Kind::microphone), microphoneConverter);
    EXPECT_EQ(handler.converter(Kind::system), systemConverter);
}

TEST_F(CaptureHandlerTest, BuffersThatGiveNothingNeitherSetTheOriginNorWrite) {
    handler.handle(Kind::system, 48000, 2, std::vector<float>(1, 0.1f), 1.0);            // half a frame
    handler.handle(Kind::system, 48000, 0, std::vector<float>(960, 0.1f), 1.0);          // no channels
    handler.handle(Kind::system, 48000, 2, {}, 1.0);                                     // empty
    handler.handle(Kind::system, 48000, 2, std::vector<float>(960, 0.1f), std::nan("")); // no time
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
                       1000.0 + k * 0.01);
        handler.handle(Kind::microphone, 48000, 2, std::vector<float>(960, 0.0f), 1000.0 + k * 0.01);
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
                       1000.0 + k * 0.01);
    EXPECT_NEAR(handler.systemLevel(), 0.354f, 0.02f);
}

TEST_F(CaptureHandlerTest, FailedWriteIsKeptAndCaptureGoesOn) {
    system->close(); // any further write fails
    handler.handle(Kind::system, 48000, 2, std::vector<float>(960, 0.3f), 5.0);
    EXPECT_TRUE(handler.writingError() != nullptr);
    handler.handle(Kind::microphone, 48000, 2, std::vector<float>(960, 0.3f), 5.0);
    EXPECT_GT(microphone->receivedFrames(), 0);
    EXPECT_GT(handler.systemLevel(), 0.0f);
}

// --- the clock both sources share ---------------------------------------------------------------

CapturedChunk chunk(double readTime, double latency, int frames = 480) {
    CapturedChunk c;
    c.sampleRate = 48000;
    c.channels = 2;
    c.samples.assign(static_cast<std::size_t>(frames) * 2, 0.0f);
    c.readTime = readTime;
    c.latency = latency;
    return c;
}

TEST(CaptureStreamClock, EarlyReadingsAreIgnoredAndJitterDoesNotReachTheTimeline) {
    StreamClock clock(10, 20);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-0.004, 0.004);
    const double captureStart = 500.0;
    std::vector<StreamClock::Placed> placed;
    for (int k = 0; k < 100; ++k) {
        const double captured = captureStart + k * 0.01;
        const double latency = k < 8 ? 0.4 : 0.02 + jitter(random); // the server's first readings are off
        auto out = clock.add(chunk(captured + 0.02 + jitter(random) * 0.5, latency));
        if (k < 29) {
            EXPECT_TRUE(out.empty()) << "held back until the anchor is known, buffer " << k;
        }
        for (auto& p : out)
            placed.push_back(std::move(p));
    }
    ASSERT_EQ(placed.size(), 100u);
    EXPECT_NEAR(placed[0].time, captureStart, 0.003);
    for (std::size_t k = 1; k < placed.size(); ++k)
        EXPECT_NEAR(placed[k].time - placed[k - 1].time, 0.01, 1e-9) << "buffers end to end";
}

TEST(CaptureStreamClock, LostAudioMovesTheAnchorWithoutMisplacingTheBuffersAfterIt) {
    StreamClock clock(0, 10);
    std::vector<double> times;
    auto feed = [&](int from, int to, double lost) {
        for (int k = from; k < to; ++k)
            for (auto& p : clock.add(chunk(10.0 + lost + k * 0.01 + 0.02, 0.02)))
                times.push_back(p.time);
    };
    feed(0, 30, 0.0);
    ASSERT_EQ(times.size(), 30u);
    EXPECT_NEAR(times.back(), 10.29, 1e-6);
    // The server lost 200 ms (or the stream moved to a device that started late): every buffer
    // from here on was captured 0.2 s later than the frame count says.
    feed(30, 60, 0.2);
    ASSERT_EQ(times.size(), 60u);
    for (std::size_t k = 30; k < 60; ++k)
        EXPECT_NEAR(times[k], 10.2 + static_cast<double>(k) * 0.01, 1e-6) << "buffer " << k;
}

TEST(CaptureStreamClock, SingleOutlierReadingsDoNotMoveTheAnchor) {
    StreamClock clock(0, 10);
    std::vector<double> times;
    for (int k = 0; k < 40; ++k) {
        const double spike = (k == 15 || k == 16 || k == 25) ? 0.3 : 0.0;
        const double latency = k == 30 ? -1.0 : 0.02 + spike; // and one buffer without a reading
        for (auto& p : clock.add(chunk(10.0 + k * 0.01 + 0.02 + spike, latency)))
            times.push_back(p.time);
    }
    ASSERT_EQ(times.size(), 40u);
    for (std::size_t k = 0; k < times.size(); ++k)
        EXPECT_NEAR(times[k], 10.0 + static_cast<double>(k) * 0.01, 1e-6) << "buffer " << k;
}

TEST(CaptureStreamClock, FlushReleasesHeldBuffersWithTheBestEstimate) {
    StreamClock clock(10, 20);
    EXPECT_TRUE(clock.add(chunk(3.0, 0.05)).empty());
    EXPECT_TRUE(clock.add(chunk(3.01, 0.05)).empty());
    const auto out = clock.flush();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_NEAR(out[0].time, 2.95, 1e-9);
    EXPECT_NEAR(out[1].time, 2.96, 1e-9);
    EXPECT_TRUE(clock.flush().empty());
}

} // namespace
} // namespace parlo
