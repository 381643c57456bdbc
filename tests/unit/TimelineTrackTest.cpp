#include "capture/TimelineTrack.h"
#include "core/ParloError.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sys/stat.h>
#include <vector>

namespace parlo {
namespace {

class TimelineTrackTest : public ::testing::Test {
protected:
    std::filesystem::path path() const {
        return std::filesystem::path(dir.path().toStdString()) / "system.pcm";
    }

    std::vector<float> readBack() const {
        std::ifstream in(path(), std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes.size() % 4, 0u);
        std::vector<float> samples(bytes.size() / 4);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
        return samples;
    }

    QTemporaryDir dir;
};

std::vector<float> ramp(std::size_t frames, float start) {
    std::vector<float> v(frames);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = start + static_cast<float>(i) * 0.001f;
    return v;
}

TEST_F(TimelineTrackTest, FirstBufferAtZeroFillsTheStartOfTheFile) {
    TimelineTrack track(path());
    const auto samples = ramp(160, 0.1f);
    track.write(samples, 0.0);
    track.close();
    EXPECT_EQ(std::filesystem::file_size(path()), 640u);
    EXPECT_EQ(track.receivedFrames(), 160);
    EXPECT_EQ(readBack(), samples);
}

TEST_F(TimelineTrackTest, GapsReadAsSilenceAndLengthIsTheLatestEnd) {
    TimelineTrack track(path());
    track.write(ramp(160, 0.1f), 0.0);
    const auto second = ramp(100, 0.5f);
    track.write(second, 1.0);
    track.close();
    EXPECT_EQ(std::filesystem::file_size(path()), 64000u + 4u * 100u);
    const auto data = readBack();
    for (std::size_t i = 160; i < 16000; ++i)
        ASSERT_EQ(data[i], 0.0f) << "frame " << i;
    EXPECT_EQ(std::vector<float>(data.begin() + 16000, data.end()), second);
    EXPECT_EQ(track.receivedFrames(), 260);
}

TEST_F(TimelineTrackTest, LateBufferLandsAtItsOwnTimeWithoutShifting) {
    TimelineTrack track(path());
    const auto later = ramp(160, 0.7f);
    track.write(later, 1.0);
    const auto earlier = ramp(160, 0.2f);
    track.write(earlier, 0.5);
    track.close();
    const auto data = readBack();
    ASSERT_EQ(data.size(), 16160u);
    EXPECT_EQ(std::vector<float>(data.begin() + 8000, data.begin() + 8160), earlier);
    EXPECT_EQ(std::vector<float>(data.begin() + 16000, data.end()), later);
}

TEST_F(TimelineTrackTest, OverlapLetsTheLaterWriteWinAndCountsTwice) {
    TimelineTrack track(path());
    track.write(std::vector<float>(320, 0.25f), 0.0);
    track.write(std::vector<float>(160, -0.5f), 0.01); // frame 160
    track.close();
    const auto data = readBack();
    ASSERT_EQ(data.size(), 320u);
    EXPECT_EQ(data[159], 0.25f);
    EXPECT_EQ(data[160], -0.5f);
    EXPECT_EQ(data[319], -0.5f);
    EXPECT_EQ(track.receivedFrames(), 480);
}

TEST_F(TimelineTrackTest, PositionsRoundHalfAwayFromZero) {
    TimelineTrack track(path());
    track.write(std::vector<float>{0.5f}, 0.00003125);     // half a frame after 0: frame 1
    track.write(std::vector<float>{0.25f}, 2.5 / 16000.0); // frame 2.5: frame 3
    track.close();
    const auto data = readBack();
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data[0], 0.0f);
    EXPECT_EQ(data[1], 0.5f);
    EXPECT_EQ(data[2], 0.0f);
    EXPECT_EQ(data[3], 0.25f);
}

TEST_F(TimelineTrackTest, NegativeOffsetsUpToOneSecondAreWrittenWholeFromFrameZero) {
    TimelineTrack track(path());
    track.write(ramp(4, 0.3f), -0.00003125); // frame -1: written at 0, not trimmed
    EXPECT_EQ(readBack(), ramp(4, 0.3f));
    track.write(ramp(6, 0.6f), -1.0);
    track.close();
    EXPECT_EQ(readBack(), ramp(6, 0.6f));
    EXPECT_EQ(track.receivedFrames(), 10);
}

TEST_F(TimelineTrackTest, OffsetsOutsideTheWindowAreDroppedSilently) {
    TimelineTrack track(path());
    const std::vector<float> one{0.5f};
    track.write(one, std::nextafter(-1.0, -2.0));
    track.write(one, 7205.0);
    track.write(one, std::numeric_limits<double>::quiet_NaN());
    track.write(one, std::numeric_limits<double>::infinity());
    track.write(one, -std::numeric_limits<double>::infinity());
    track.write(std::span<const float>(), 0.0);
    EXPECT_EQ(track.receivedFrames(), 0);
    EXPECT_EQ(std::filesystem::file_size(path()), 0u);

    const double justBelow = std::nextafter(7205.0, 0.0);
    track.write(one, justBelow);
    track.close();
    EXPECT_EQ(track.receivedFrames(), 1);
    EXPECT_EQ(std::filesystem::file_size(path()),
              4u * (static_cast<std::uintmax_t>(std::llround(justBelow * 16000)) + 1));
}

TEST_F(TimelineTrackTest, CreationEmptiesAnExistingFileAndRestrictsItToTheOwner) {
    {
        std::ofstream old(path(), std::ios::binary);
        old << "left over from an earlier attempt";
    }
    ::chmod(path().c_str(), 0644);
    TimelineTrack track(path());
    EXPECT_EQ(std::filesystem::file_size(path()), 0u);
    struct stat info {};
    ASSERT_EQ(::stat(path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    track.close();
}

TEST_F(TimelineTrackTest, UnopenableFileFailsCreationWithThePlatformError) {
    const auto missing = std::filesystem::path(dir.path().toStdString()) / "no-such-folder" / "system.pcm";
    EXPECT_THROW(TimelineTrack{missing}, PlatformError);
}

TEST_F(TimelineTrackTest, WritesReachStableStorageEveryTwoSecondsOfAudio) {
    TimelineTrack track(path());
    int flushes = 0;
    std::int64_t before = 0;
    for (int block = 0; block < 50; ++block) {
        track.write(std::vector<float>(1600, 0.1f), block * 0.1);
        flushes += track.unsyncedFrames() < before ? 1 : 0;
        before = track.unsyncedFrames();
        ASSERT_LT(track.unsyncedFrames(), TimelineTrack::syncInterval) << "block " << block;
    }
    EXPECT_EQ(flushes, 2) << "five seconds of audio, flushed at two and four";
    track.close();
}

TEST_F(TimelineTrackTest, WriteAfterCloseFailsWithoutCounting) {
    TimelineTrack track(path());
    track.close();
    EXPECT_THROW(track.write(std::vector<float>{0.1f}, 0.0), PlatformError);
    EXPECT_EQ(track.receivedFrames(), 0);
}

} // namespace
} // namespace parlo
