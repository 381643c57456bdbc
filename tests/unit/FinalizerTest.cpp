// The finalization shared by the recorder's stop, the salvage at start-up and "Восстановить запись".
#include "capture/RecordingFinalizer.h"

#include "capture/AudioCodec.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <vector>

using namespace parlo;
namespace fs = std::filesystem;

TEST(RecordingFinalizer, AMissingTrackIsSilenceAndTheTracksStayUntilTheOwnerRemovesThem) {
    QTemporaryDir dir;
    const fs::path folder(dir.path().toStdString());
    const std::vector<float> system(3 * 16000, 0.25f);
    std::ofstream(folder / "system.pcm", std::ios::binary)
        .write(reinterpret_cast<const char*>(system.data()), static_cast<std::streamsize>(system.size() * 4));
    const mode_t umask = ::umask(022); // what a desktop session usually has: the mix must not follow it
    const CaptureResult result = RecordingFinalizer::finalize(folder, *test::ffmpeg());
    ::umask(umask);
    EXPECT_DOUBLE_EQ(result.duration, 3.0);
    EXPECT_EQ(result.systemFrames, 48000);
    EXPECT_EQ(result.microphoneFrames, 0);
    EXPECT_EQ(result.warnings,
              QStringList{QStringLiteral(
                  "Запись сохранена. Микрофон не поступал — в файле есть только звук компьютера.")});
    struct stat info {};
    ASSERT_EQ(::stat(result.file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_FALSE(fs::exists(folder / RecordingFinalizer::partialFileName));
    EXPECT_TRUE(RecordingFinalizer::hasRawTracks(folder));

    RecordingFinalizer::removeRawTracks(folder);
    EXPECT_FALSE(RecordingFinalizer::hasRawTracks(folder));
    EXPECT_TRUE(fs::exists(result.file));
}
