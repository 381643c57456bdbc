#include "ui/AudioPlayback.h"

#include "ToneFile.h"
#include "core/ParloError.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

using namespace parlo;

TEST(AudioPlaybackTest, PlaysALocalFileSeeksAndPausesWhileReportingItsState) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tone.wav"));
    test::writeTone(path, 3.0);
    AudioPlayback playback;
    test::runTask(playback.open(path.toStdString()), std::chrono::seconds(10));
    EXPECT_NEAR(playback.duration(), 3.0, 0.1);
    EXPECT_FALSE(playback.isPlaying());

    playback.seek(1.0);
    playback.play();
    EXPECT_TRUE(playback.isPlaying());
    test::spin(std::chrono::milliseconds(400));
    EXPECT_GT(playback.position(), 1.0);

    // A bad segment's negative start seeks to the beginning.
    playback.seek(-4);
    test::spin(std::chrono::milliseconds(50));
    EXPECT_LT(playback.position(), 0.5);

    playback.pause();
    EXPECT_FALSE(playback.isPlaying());
}

TEST(AudioPlaybackTest, AMissingOrUnplayableFileFailsWithADescription) {
    QTemporaryDir dir;
    AudioPlayback playback;
    EXPECT_THROW(test::runTask(playback.open(dir.filePath(QStringLiteral("none.wav")).toStdString())),
                 PlatformError);
    const QString junk = dir.filePath(QStringLiteral("junk.wav"));
    QFile file(junk);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    try {
        test::runTask(playback.open(junk.toStdString()), std::chrono::seconds(10));
        FAIL() << "junk opened";
    } catch (const PlatformError& error) {
        EXPECT_FALSE(QString::fromUtf8(error.what()).isEmpty());
    }
}
