// The clock, the block joiner and the handler together, driven by simulated sources whose clocks
// run fast or slow against the monotonic one, whose callbacks come late, or which lose audio: the
// tracks must stay sample-true (no cut, no padding) and on time.
#include "capture/StreamClock.h"
#include "capture/AudioCodec.h"
#include "capture/BlockJoiner.h"
#include "capture/CaptureHandler.h"
#include "capture/TimelineTrack.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace parlo {
namespace {

using Kind = CaptureSourceKind;

// A source whose frames are heard at `rate` frames per monotonic second from `start` on, and
// delivered in 20 ms pieces a little after their last frame, like the sound server's.
struct DrivenSource {
    Kind kind = Kind::system;
    double rate = 48000;
    double start = 1000.0;
    std::int64_t heard = 0; // frames heard so far, lost ones included
    std::mt19937 random{1};

    static constexpr int piece = 960;

    double heardAt(std::int64_t frame) const { return start + static_cast<double>(frame) / rate; }
    // When the next piece reaches the recorder: a millisecond or so after its last frame.
    double nextDelivery() {
        std::exponential_distribution<double> jitter(1.0 / 0.0005);
        return heardAt(heard + piece) + 0.0005 + std::min(jitter(random), 0.02);
    }
};

class DrivenRecording {
public:
    explicit DrivenRecording(const QTemporaryDir& dir)
        : systemTrack_(std::filesystem::path(dir.path().toStdString()) / "system.pcm")
        , micTrack_(std::filesystem::path(dir.path().toStdString()) / "microphone.pcm") {
        handler_.setTracks(&systemTrack_, &micTrack_);
    }

    // Delivers one piece of `source` read at `readTime`; with `lost` frames before it that never
    // arrive (their break reported with it).
    void deliver(DrivenSource& source, double readTime, std::int64_t lost = 0) {
        source.heard += lost;
        CapturedChunk chunk;
        chunk.source = source.kind;
        chunk.sampleRate = 48000;
        chunk.channels = 1;
        chunk.samples.assign(DrivenSource::piece, 0.5f);
        chunk.readTime = readTime;
        chunk.latency = 0.0;
        chunk.discontinuity = lost > 0;
        source.heard += DrivenSource::piece;
        const auto key = static_cast<std::size_t>(source.kind);
        auto blocks = joiners_[key].add(std::move(chunk));
        for (auto& block : blocks)
            place(clocks_[key].add(std::move(block)));
        // Every frame heard is on the track now, unless still held back.
        measurable_[key] = !blocks.empty() && clocks_[key].anchored();
        lastHeard_[key] = source.heardAt(source.heard);
    }

    // How far the source's track runs ahead of the monotonic clock now, in ms: where its next frame
    // will be written against when it will have been heard.
    double aheadMs(Kind kind) const {
        const auto key = static_cast<std::size_t>(kind);
        const auto head = handler_.writeHead(kind);
        if (!head || !handler_.origin() || !measurable_[key])
            return 0.0;
        const double written =
            (static_cast<double>(*head) + handler_.converter(kind)->pendingOutputFrames()) / 16000;
        return (written - (lastHeard_[key] - *handler_.origin())) * 1000;
    }

    void finish() {
        for (std::size_t key = 0; key < 2; ++key) {
            for (auto& block : joiners_[key].flush())
                place(clocks_[key].add(std::move(block)));
            place(clocks_[key].flush());
        }
        systemTrack_.close();
        micTrack_.close();
    }

    const TimelineTrack& track(Kind kind) const { return kind == Kind::system ? systemTrack_ : micTrack_; }
    const StreamClock& clock(Kind kind) const { return clocks_[static_cast<std::size_t>(kind)]; }

private:
    void place(std::vector<StreamClock::Placed>&& placed) {
        for (const auto& [block, placement] : placed)
            handler_.handle(block.source, block.sampleRate, block.channels, block.samples, placement);
    }

    TimelineTrack systemTrack_;
    TimelineTrack micTrack_;
    CaptureHandler handler_{*test::ffmpeg()};
    std::array<BlockJoiner, 2> joiners_;
    std::array<StreamClock, 2> clocks_;
    std::array<bool, 2> measurable_{};
    std::array<double, 2> lastHeard_{};
};

// Tracks flush to stable storage every two seconds of audio: minutes of it are quick only in memory.
QString memoryFolder() {
    return QFileInfo(QStringLiteral("/dev/shm")).isWritable()
               ? QStringLiteral("/dev/shm/parlo-clock-XXXXXX")
               : QDir::tempPath() + QStringLiteral("/parlo-clock-XXXXXX");
}

// Runs of silence longer than a millisecond in a track of constant audio: its holes.
std::vector<std::pair<std::size_t, std::size_t>> holes(const std::vector<float>& track) {
    std::vector<std::pair<std::size_t, std::size_t>> found;
    std::size_t run = 0;
    for (std::size_t i = 0; i <= track.size(); ++i) {
        if (i < track.size() && track[i] == 0.0f) {
            ++run;
            continue;
        }
        if (run > 16)
            found.emplace_back(i - run, run);
        run = 0;
    }
    return found;
}

TEST(StreamClockTest, TracksOfSourcesRunningFastAndSlowStayOnTimeWithoutCutsOrPadding) {
    QTemporaryDir dir(memoryFolder());
    DrivenRecording recording(dir);
    // Five minutes of a source 500 ppm fast and one 500 ppm slow, started 40 ms apart.
    DrivenSource fast{Kind::system, 48024, 1000.0};
    DrivenSource slow{Kind::microphone, 47976, 1000.04};
    double worstAfterStart = 0;
    while (fast.heardAt(fast.heard) < 1300.0 || slow.heardAt(slow.heard) < 1300.0) {
        const double fastNext = fast.nextDelivery();
        const double slowNext = slow.nextDelivery();
        DrivenSource& next = fastNext < slowNext ? fast : slow;
        recording.deliver(next, std::min(fastNext, slowNext));
        if (next.heardAt(next.heard) > 1002.0)
            worstAfterStart = std::max(worstAfterStart, std::abs(recording.aheadMs(next.kind)));
    }
    recording.finish();
    for (const Kind kind : {Kind::system, Kind::microphone}) {
        const auto track = test::readTrack(recording.track(kind).url());
        // Written end to end: as long as what was received, with the start's offset; no hole.
        const auto start = kind == Kind::system ? 0.0 : 0.04 * 16000;
        EXPECT_NEAR(static_cast<double>(track.size()),
                    static_cast<double>(recording.track(kind).receivedFrames()) + start, 16);
        EXPECT_TRUE(holes(track).size() == (kind == Kind::system ? 0u : 1u)) << "only the start's silence";
        EXPECT_NEAR(static_cast<double>(track.size()) / 16000, 300.0, 0.1)
            << "five minutes of monotonic time";
    }
    EXPECT_NEAR(recording.clock(Kind::system).drift() * 1e6, -500, 20);
    EXPECT_NEAR(recording.clock(Kind::microphone).drift() * 1e6, 500, 20);
    EXPECT_LT(worstAfterStart, 5.0) << "each track within 5 ms of the monotonic clock throughout";
}

TEST(StreamClockTest, StallOfTheReadingThreadNeitherJumpsNorLeavesAHole) {
    QTemporaryDir dir(memoryFolder());
    DrivenRecording recording(dir);
    DrivenSource source{Kind::system, 48024, 1000.0};
    double worst = 0;
    while (source.heardAt(source.heard) < 1060.0) {
        double at = source.nextDelivery();
        // For 300 ms from second 30 the thread does not run; then everything comes at once, late.
        if (at > 1030.0 && at < 1030.3)
            at = 1030.3 + 1e-4 * static_cast<double>(source.heard % 97);
        recording.deliver(source, at);
        if (source.heardAt(source.heard) > 1002.0)
            worst = std::max(worst, std::abs(recording.aheadMs(Kind::system)));
    }
    recording.finish();
    const auto track = test::readTrack(recording.track(Kind::system).url());
    EXPECT_EQ(static_cast<std::int64_t>(track.size()), recording.track(Kind::system).receivedFrames());
    EXPECT_TRUE(holes(track).empty());
    EXPECT_LT(worst, 5.0);
}

TEST(StreamClockTest, ReportedLossLeavesExactlyOneGapOfItsLength) {
    // Once the clock runs, and once while it still holds the first blocks back.
    for (const double lossAt : {20.0, 0.3}) {
        QTemporaryDir dir(memoryFolder());
        DrivenRecording recording(dir);
        DrivenSource source{Kind::microphone, 48000, 1000.0};
        bool lost = false;
        while (source.heardAt(source.heard) < 1030.0) {
            const double at = source.nextDelivery();
            // 100 ms never arrive; the server says so with the next piece.
            const bool now = !lost && source.heardAt(source.heard) >= 1000.0 + lossAt;
            recording.deliver(source, now ? at + 0.1 : at, now ? 4800 : 0);
            lost = lost || now;
        }
        recording.finish();
        const auto track = test::readTrack(recording.track(Kind::microphone).url());
        const auto found = holes(track);
        ASSERT_EQ(found.size(), 1u) << "loss at " << lossAt;
        EXPECT_NEAR(static_cast<double>(found[0].first), lossAt * 16000, 32) << "loss at " << lossAt;
        EXPECT_NEAR(static_cast<double>(found[0].second), 1600, 16) << "loss at " << lossAt;
        EXPECT_NEAR(static_cast<double>(track.size()), 30 * 16000, 32) << "loss at " << lossAt;
    }
}

TEST(StreamClockTest, SilentLossIsFollowedGraduallyWithoutACutAndDoesNotTiltTheDrift) {
    QTemporaryDir dir(memoryFolder());
    DrivenRecording recording(dir);
    DrivenSource source{Kind::system, 48024, 1000.0};
    bool lost = false;
    double worstDrift = 0;
    double worstLate = 0;
    while (source.heardAt(source.heard) < 1120.0) {
        // 40 ms never arrive at second 50, and nobody says so.
        const bool now = !lost && source.heardAt(source.heard) >= 1050.0;
        source.heard += now ? 1920 : 0;
        lost = lost || now;
        recording.deliver(source, source.nextDelivery());
        const double at = source.heardAt(source.heard);
        if (at > 1060.0)
            worstDrift = std::max(worstDrift, std::abs(recording.clock(Kind::system).drift() * 1e6 + 500));
        if (at > 1090.0)
            worstLate = std::max(worstLate, std::abs(recording.aheadMs(Kind::system)));
    }
    recording.finish();
    const auto track = test::readTrack(recording.track(Kind::system).url());
    EXPECT_EQ(static_cast<std::int64_t>(track.size()), recording.track(Kind::system).receivedFrames());
    EXPECT_TRUE(holes(track).empty());
    EXPECT_LT(worstDrift, 30.0) << "ppm off the true drift from ten seconds after the loss";
    EXPECT_LT(worstLate, 5.0) << "ms off the clock from forty seconds after the loss";
}

TEST(StreamClockTest, EarlyReadingsAreIgnoredAndBlocksAreHeldUntilPlaced) {
    StreamClock clock(5, 20);
    BlockJoiner joiner(0.0);
    std::vector<StreamClock::Placed> placed;
    for (int k = 0; k < 40; ++k) {
        CapturedChunk chunk;
        chunk.sampleRate = 48000;
        chunk.channels = 1;
        chunk.samples.assign(480, 0.1f);
        // The first readings are far off (the server's first timing), the rest a little late.
        chunk.readTime = 500.0 + (k + 1) * 0.01 + (k < 5 ? -0.4 : 0.002 + 0.001 * (k % 3));
        chunk.latency = 0.0;
        auto blocks = joiner.add(std::move(chunk));
        ASSERT_EQ(blocks.size(), 1u);
        auto out = clock.add(std::move(blocks[0]));
        if (k < 24) {
            EXPECT_TRUE(out.empty()) << "held until 20 good readings, block " << k;
        }
        for (auto& p : out)
            placed.push_back(std::move(p));
    }
    ASSERT_EQ(placed.size(), 40u);
    EXPECT_NEAR(placed[0].placement.time, 500.002, 1e-6) << "the earliest of the good readings";
    EXPECT_FALSE(placed[0].placement.continuous);
    for (std::size_t k = 1; k < placed.size(); ++k)
        EXPECT_TRUE(placed[k].placement.continuous);
}

TEST(StreamClockTest, BlockJoinerEndsBlocksAtBreaksAndFormatChanges) {
    BlockJoiner joiner(0.1);
    auto chunk = [](int rate, int frames, bool discontinuity = false) {
        CapturedChunk c;
        c.sampleRate = rate;
        c.channels = 2;
        c.samples.assign(static_cast<std::size_t>(frames) * 2, 0.1f);
        c.readTime = 1.0;
        c.discontinuity = discontinuity;
        return c;
    };
    EXPECT_TRUE(joiner.add(chunk(48000, 1920)).empty());
    auto done = joiner.add(chunk(48000, 1920, true));
    ASSERT_EQ(done.size(), 1u) << "the break ends the block before it";
    EXPECT_EQ(done[0].frames(), 1920);
    EXPECT_EQ(done[0].readings.size(), 1u);
    EXPECT_EQ(done[0].readings[0].frame, 1920) << "a reading marks the end of its chunk";
    done = joiner.add(chunk(44100, 4410));
    ASSERT_EQ(done.size(), 2u) << "the new format's chunk is a whole block by itself";
    EXPECT_TRUE(done[0].discontinuity);
    EXPECT_EQ(done[1].sampleRate, 44100);
    EXPECT_TRUE(joiner.flush().empty());
}

} // namespace
} // namespace parlo
