#include "capture/AudioCodec.h"
#include "capture/AudioMixer.h"
#include "codec/AacFileWriter.h"
#include "core/ParloError.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <numbers>
#include <sys/stat.h>
#include <vector>

namespace parlo {
namespace {

constexpr int rate = 16000;
constexpr std::size_t aacFrame = 1024;

std::vector<float> tone(double hz, double seconds, float amplitude) {
    std::vector<float> v(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = amplitude *
               static_cast<float>(std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    return v;
}

// Root mean square of (a - b) over [from, to).
double rmsDifference(const std::vector<float>& a, const std::vector<float>& b, std::size_t from,
                     std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
    return std::sqrt(sum / static_cast<double>(to - from));
}

double rms(const std::vector<float>& a, std::size_t from, std::size_t to) {
    return rmsDifference(a, std::vector<float>(a.size(), 0.0f), from, to);
}

class MixerTest : public ::testing::Test {
protected:
    std::filesystem::path file(const char* name) const {
        return std::filesystem::path(dir.path().toStdString()) / name;
    }

    void writeRaw(const std::filesystem::path& path, const std::vector<float>& samples,
                  std::size_t extraBytes = 0) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(samples.data()),
                  static_cast<std::streamsize>(samples.size() * 4));
        for (std::size_t i = 0; i < extraBytes; ++i)
            out.put('\x7f');
    }

    // Mixes the two given tracks and decodes the result back.
    DecodedAudio mixAndDecode(const std::vector<float>& system, const std::vector<float>& microphone,
                              double expectedDuration) {
        writeRaw(file("system.pcm"), system);
        writeRaw(file("microphone.pcm"), microphone);
        const double duration = AudioMixer::mix(file("system.pcm"), file("microphone.pcm"),
                                                file("conversation.m4a"), *test::ffmpeg());
        EXPECT_DOUBLE_EQ(duration, expectedDuration);
        DecodedAudio decoded = decodeAudioFile(file("conversation.m4a"));
        EXPECT_EQ(decoded.sampleRate, rate);
        const auto expectedFrames = static_cast<std::int64_t>(expectedDuration * rate);
        EXPECT_NEAR(static_cast<double>(decoded.samples.size()), static_cast<double>(expectedFrames),
                    aacFrame);
        return decoded;
    }

    QTemporaryDir dir;
};

std::size_t mixRaw(const std::vector<float>& s, const std::vector<float>& m, std::vector<float>& out) {
    out.assign(std::max(s.size(), m.size()), -5.0f);
    return AudioMixer::mixChunk(reinterpret_cast<const char*>(s.data()), s.size() * 4,
                                reinterpret_cast<const char*>(m.data()), m.size() * 4, out.data());
}

TEST(MixerChunk, SumIsClippedAtPlusMinusPointNineEight) {
    std::vector<float> out;
    EXPECT_EQ(mixRaw(std::vector<float>(100, 0.6f), std::vector<float>(100, 0.6f), out), 100u);
    for (float v : out)
        ASSERT_EQ(v, 0.98f);
    mixRaw(std::vector<float>(10, -0.7f), std::vector<float>(10, -0.5f), out);
    EXPECT_EQ(out[0], -0.98f);
    mixRaw(std::vector<float>{0.25f, 0.1f}, std::vector<float>{-0.25f, 0.2f}, out);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_FLOAT_EQ(out[1], 0.3f);
}

TEST(MixerChunk, NonFiniteSamplesCountAsSilenceForThatSampleOnly) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> out;
    mixRaw({inf, -inf, nan, 0.5f, 0.7f}, {0.3f, -0.2f, 0.1f, nan, inf}, out);
    EXPECT_FLOAT_EQ(out[0], 0.3f);
    EXPECT_FLOAT_EQ(out[1], -0.2f);
    EXPECT_FLOAT_EQ(out[2], 0.1f);
    EXPECT_FLOAT_EQ(out[3], 0.5f);
    EXPECT_FLOAT_EQ(out[4], 0.7f);
    // Also past the end of the shorter chunk.
    mixRaw({0.1f, inf}, {0.2f}, out);
    EXPECT_EQ(out[1], 0.0f);
}

TEST(MixerChunk, ShorterChunkAndIncompleteLastSampleAreSilence) {
    const std::vector<float> s{0.1f, 0.2f, 0.3f};
    const std::vector<float> m{0.5f, 0.5f};
    std::vector<float> out(3, -5.0f);
    // Microphone chunk of 6 bytes: one whole sample and half of the next.
    const std::size_t frames = AudioMixer::mixChunk(reinterpret_cast<const char*>(s.data()), 12,
                                                    reinterpret_cast<const char*>(m.data()), 6, out.data());
    EXPECT_EQ(frames, 3u);
    EXPECT_FLOAT_EQ(out[0], 0.6f);
    EXPECT_FLOAT_EQ(out[1], 0.2f);
    EXPECT_FLOAT_EQ(out[2], 0.3f);
    // A single chunk of 7 bytes against nothing: one frame, the incomplete one dropped.
    EXPECT_EQ(AudioMixer::mixChunk(reinterpret_cast<const char*>(s.data()), 7, nullptr, 0, out.data()), 1u);
}

TEST_F(MixerTest, EqualTracksDecodeToTheirSum) {
    const auto system = tone(440, 3.0, 0.3f);
    const auto microphone = tone(1000, 3.0, 0.3f);
    std::vector<float> sum(system.size());
    for (std::size_t i = 0; i < sum.size(); ++i)
        sum[i] = system[i] + microphone[i];
    const auto decoded = mixAndDecode(system, microphone, 3.0);
    // Lossy, but a 48 kbit/s encode of two tones stays within a few percent of the signal.
    EXPECT_LT(rmsDifference(decoded.samples, sum, 2048, sum.size() - 2048), 0.05 * rms(sum, 0, sum.size()));
}

TEST_F(MixerTest, OppositeTracksCancelOut) {
    const auto system = tone(440, 3.0, 0.25f);
    auto microphone = system;
    for (float& v : microphone)
        v = -v;
    const auto decoded = mixAndDecode(system, microphone, 3.0);
    EXPECT_LT(rms(decoded.samples, 0, decoded.samples.size()), 0.001);
}

TEST_F(MixerTest, ClippedSumIsWhatTheEncoderReceives) {
    // The encoder is deterministic: the mix of two loud tracks must decode exactly like the
    // pre-clipped sum handed over alone.
    const auto loud = tone(440, 3.0, 0.9f);
    const auto mixed = mixAndDecode(loud, loud, 3.0);
    std::vector<float> clipped(loud.size());
    for (std::size_t i = 0; i < loud.size(); ++i)
        clipped[i] = std::clamp(loud[i] + loud[i], -0.98f, 0.98f);
    const auto reference = mixAndDecode(clipped, {}, 3.0);
    EXPECT_EQ(mixed.samples, reference.samples);
}

TEST_F(MixerTest, LongerTrackSetsTheLengthAndPlaysAloneAfterTheShorterEnds) {
    const auto system = tone(440, 10.0, 0.4f);
    const auto microphone = tone(1000, 4.0, 0.4f);
    const auto decoded = mixAndDecode(system, microphone, 10.0);
    const std::size_t fourSeconds = 4 * rate;
    EXPECT_LT(rmsDifference(decoded.samples, system, fourSeconds + 2048, system.size() - 2048), 0.02);
    std::vector<float> sum(system);
    for (std::size_t i = 0; i < microphone.size(); ++i)
        sum[i] += microphone[i];
    EXPECT_LT(rmsDifference(decoded.samples, sum, 2048, fourSeconds - 2048), 0.04);
}

TEST_F(MixerTest, EmptySystemTrackGivesTheMicrophoneAlone) {
    const auto microphone = tone(700, 5.0, 0.5f);
    const auto decoded = mixAndDecode({}, microphone, 5.0);
    EXPECT_LT(rmsDifference(decoded.samples, microphone, 2048, microphone.size() - 2048), 0.03);
}

TEST_F(MixerTest, TrailingSingleByteEndsTheLoopAfterOneSecond) {
    writeRaw(file("system.pcm"), std::vector<float>(16000, 0.1f), 1); // 64,001 bytes
    writeRaw(file("microphone.pcm"), {});
    EXPECT_DOUBLE_EQ(AudioMixer::mix(file("system.pcm"), file("microphone.pcm"), file("conversation.m4a"),
                                     *test::ffmpeg()),
                     1.0);
}

TEST_F(MixerTest, IncompleteLastSampleIsNotCounted) {
    writeRaw(file("system.pcm"), tone(440, 2.0, 0.3f), 3);
    writeRaw(file("microphone.pcm"), tone(440, 1.5, 0.3f), 2);
    EXPECT_DOUBLE_EQ(AudioMixer::mix(file("system.pcm"), file("microphone.pcm"), file("conversation.m4a"),
                                     *test::ffmpeg()),
                     2.0);
}

TEST_F(MixerTest, NonFiniteSamplesInAFileAreReplacedBySilence) {
    auto corrupt = tone(440, 3.0, 0.4f);
    auto silenced = corrupt;
    for (std::size_t i = 8000; i < 8100; ++i) {
        corrupt[i] = i % 2 ? std::numeric_limits<float>::infinity() : std::numeric_limits<float>::quiet_NaN();
        silenced[i] = 0.0f;
    }
    const auto microphone = tone(1000, 3.0, 0.2f);
    const auto decoded = mixAndDecode(corrupt, microphone, 3.0);
    const auto reference = mixAndDecode(silenced, microphone, 3.0);
    EXPECT_EQ(decoded.samples, reference.samples);
    EXPECT_TRUE(std::all_of(decoded.samples.begin(), decoded.samples.end(),
                            [](float v) { return std::isfinite(v); }));
}

TEST_F(MixerTest, OutputReplacesAnExistingFileAndIsPrivate) {
    {
        std::ofstream old(file("conversation.m4a"));
        old << std::string(500000, 'x');
    }
    ::chmod(file("conversation.m4a").c_str(), 0644);
    mixAndDecode(tone(440, 2.0, 0.2f), tone(440, 2.0, 0.2f), 2.0);
    struct stat info {};
    ASSERT_EQ(::stat(file("conversation.m4a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_LT(info.st_size, 500000);
    EXPECT_GT(audioFileFrames(file("conversation.m4a")), 0);
}

TEST_F(MixerTest, UnreadableInputOrUnwritableOutputFailsWithThePlatformError) {
    writeRaw(file("microphone.pcm"), tone(440, 1.0, 0.2f));
    EXPECT_THROW(AudioMixer::mix(file("missing.pcm"), file("microphone.pcm"), file("conversation.m4a"),
                                 *test::ffmpeg()),
                 PlatformError);
    writeRaw(file("system.pcm"), tone(440, 1.0, 0.2f));
    EXPECT_THROW(AudioMixer::mix(file("system.pcm"), file("microphone.pcm"),
                                 file("no-folder/conversation.m4a"), *test::ffmpeg()),
                 PlatformError);
}

} // namespace
} // namespace parlo
