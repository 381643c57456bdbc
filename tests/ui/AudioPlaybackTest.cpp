#include "ui/AudioPlayback.h"
#include "server/ParloError.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

using namespace parlo;

namespace {

// A 16 kHz mono 16-bit WAV file of a 440 Hz tone.
void writeTone(const QString& path, double seconds) {
    const int rate = 16000;
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    QByteArray data;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto sample = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * i / rate));
        data.append(static_cast<char>(sample & 0xff));
        data.append(static_cast<char>((sample >> 8) & 0xff));
    }
    auto u32 = [](std::uint32_t v) {
        QByteArray b(4, 0);
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<char>((v >> (8 * i)) & 0xff);
        return b;
    };
    auto u16 = [](std::uint16_t v) {
        QByteArray b(2, 0);
        b[0] = static_cast<char>(v & 0xff);
        b[1] = static_cast<char>(v >> 8);
        return b;
    };
    QByteArray wav = "RIFF" + u32(36 + static_cast<std::uint32_t>(data.size())) + "WAVEfmt " + u32(16) +
                     u16(1) + u16(1) + u32(rate) + u32(rate * 2) + u16(2) + u16(16) + "data" +
                     u32(static_cast<std::uint32_t>(data.size())) + data;
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(wav);
}

} // namespace

TEST(AudioPlaybackTest, PlaysALocalFileSeeksAndPausesWhileReportingItsState) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tone.wav"));
    writeTone(path, 3.0);
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
