#include "ui/PlaybackController.h"
#include "ToneFile.h"
#include "core/ParloError.h"
#include "library/LocalRecording.h"
#include "library/LocalStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace parlo;

namespace {

class PlaybackControllerTest : public ::testing::Test {
protected:
    test::ScopedDataDir dataDir;
    std::vector<std::pair<std::string, std::filesystem::path>> downloads;
    PlaybackController controller{[this](std::string id, std::filesystem::path destination) -> QCoro::Task<> {
        downloads.emplace_back(id, destination);
        std::filesystem::create_directories(destination.parent_path()); // as the service client does
        test::writeTone(QString::fromStdString(destination.string()), 4.0);
        co_return;
    }};

    // A recording whose conversation file lies in its folder, `seconds` long.
    LocalRecording localRecording(double seconds) {
        LocalRecording r;
        r.id = Uuid::random();
        r.title = "Встреча";
        r.status = RecordingStatus::done;
        r.folderName = r.id.toString();
        r.fileName = "conversation.wav";
        const std::filesystem::path folder = LocalStore::recordingsFolder() / *r.folderName;
        std::filesystem::create_directories(folder);
        test::writeTone(QString::fromStdString((folder / *r.fileName).string()), seconds);
        return r;
    }

    void play(const LocalRecording& r, std::optional<double> at) {
        test::runTask(controller.play(r, at), std::chrono::seconds(10));
    }
};

} // namespace

TEST_F(PlaybackControllerTest, ATimeLoadsAnUnloadedRecordingAndPlaysThereThenSeeksWithoutReloading) {
    const LocalRecording r = localRecording(6);
    play(r, 2.0);
    EXPECT_EQ(controller.loads(), 1);
    EXPECT_EQ(controller.playerItem(), std::optional<Uuid>(r.id));
    EXPECT_TRUE(controller.isPlaying());
    EXPECT_NEAR(controller.duration(), 6.0, 0.1);
    test::spin(std::chrono::milliseconds(100));
    EXPECT_GE(controller.position(), 2.0);

    play(r, 4.5);
    EXPECT_EQ(controller.loads(), 1);
    test::spin(std::chrono::milliseconds(50));
    EXPECT_GE(controller.position(), 4.5);

    // Another recording replaces the player.
    const LocalRecording other = localRecording(3);
    play(other, 1.0);
    EXPECT_EQ(controller.loads(), 2);
    EXPECT_EQ(controller.playerItem(), std::optional<Uuid>(other.id));
    EXPECT_NEAR(controller.duration(), 3.0, 0.1);
}

TEST_F(PlaybackControllerTest, PlayTwicePausesAndATimeWhilePausedSeeksAndPlays) {
    const LocalRecording r = localRecording(6);
    play(r, std::nullopt);
    EXPECT_TRUE(controller.isPlaying());
    play(r, std::nullopt);
    EXPECT_FALSE(controller.isPlaying());
    play(r, 3.0);
    EXPECT_TRUE(controller.isPlaying());
    test::spin(std::chrono::milliseconds(50));
    EXPECT_GE(controller.position(), 3.0);
}

TEST_F(PlaybackControllerTest, ANegativeTimeSeeksToTheBeginning) {
    const LocalRecording r = localRecording(6);
    play(r, 4.0);
    test::spin(std::chrono::milliseconds(50));
    play(r, -7.0);
    test::spin(std::chrono::milliseconds(50));
    EXPECT_LT(controller.position(), 1.0);
    EXPECT_TRUE(controller.isPlaying());
}

TEST_F(PlaybackControllerTest, WithoutAFileTheServiceAudioIsDownloadedOnceIntoThePlaybackFolder) {
    LocalRecording r;
    r.id = Uuid::random();
    r.status = RecordingStatus::done;
    r.remoteID = "5f3c9a2e7b1d4e8fa06c2b9d1e7f4a30";
    play(r, 1.0);
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(downloads[0].first, *r.remoteID);
    EXPECT_EQ(downloads[0].second, LocalStore::root() / "Playback" / "5f3c9a2e7b1d4e8fa06c2b9d1e7f4a30.wav");
    EXPECT_NEAR(controller.duration(), 4.0, 0.1);

    // Loaded again later (after another recording), the kept file is used.
    play(localRecording(2), 0.0);
    play(r, 0.0);
    EXPECT_EQ(downloads.size(), 1u);
    EXPECT_EQ(controller.loads(), 3);
}

TEST_F(PlaybackControllerTest, AServiceIdentifierThatIsNoIdNeverBecomesAPath) {
    LocalRecording r;
    r.id = Uuid::random();
    r.status = RecordingStatus::done;
    for (const char* id : {"../../outside", "/abs", "5f3c9a2e7b1d4e8fa06c2b9d1e7f4a3"}) {
        r.remoteID = id;
        EXPECT_THROW(play(r, 0.0), ParloError) << id;
    }
    EXPECT_TRUE(downloads.empty());
    EXPECT_FALSE(std::filesystem::exists(LocalStore::root() / "Playback"));
}

TEST_F(PlaybackControllerTest, NeitherAFileNorAServiceIdentifierIsNotReadyAndKeepsTheLoadedRecording) {
    const LocalRecording loaded = localRecording(6);
    play(loaded, 1.0);
    LocalRecording empty;
    empty.id = Uuid::random();
    empty.status = RecordingStatus::processing;
    try {
        play(empty, 0.0);
        FAIL() << "played a recording without audio";
    } catch (const ParloError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Звук пока не готов."));
    }
    EXPECT_EQ(controller.playerItem(), std::optional<Uuid>(loaded.id));
    EXPECT_TRUE(downloads.empty());

    // An unplayable file fails with the player's description, the loaded recording still in place.
    LocalRecording broken = localRecording(1);
    const std::filesystem::path file = LocalStore::recordingsFolder() / *broken.folderName / *broken.fileName;
    std::filesystem::resize_file(file, 30);
    EXPECT_THROW(play(broken, 0.0), PlatformError);
    EXPECT_EQ(controller.playerItem(), std::optional<Uuid>(loaded.id));
}
