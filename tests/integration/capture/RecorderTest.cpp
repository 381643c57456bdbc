// SystemAudioRecorder end to end: tones played into the test daemon's sinks come out in
// "conversation.m4a", both tracks share one timeline, and the stop sequence reports what it must.
#include "capture/CapturePermissions.h"
#include "capture/CaptureTexts.h"
#include "capture/SystemAudioRecorder.h"
#include "codec/AacFileWriter.h"
#include "core/ParloError.h"
#include "support/TestSoundServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <fstream>
#include <numbers>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

// Read by the thread sanitizer at start-up (unused otherwise). libpulse is not built with the
// sanitizer: its main-loop mutex is created on the thread that starts the capture and first locked
// by the loop's own thread, created inside the library, an order the sanitizer does not see.
// Only reports about libpulse locking its own mutex are excused; our data stays checked.
extern "C" const char* __tsan_default_suppressions() {
    return "race:pa_mutex_lock\n";
}

namespace parlo {
namespace {

using namespace parlo::test;

class RecorderTest : public ::testing::Test {
protected:
    std::filesystem::path folder() const {
        return std::filesystem::path(dir.path().toStdString()) / "Recordings" / "one";
    }

    // Starts `recorder` and records for `duration` with the event loop running.
    void record(SystemAudioRecorder& recorder, std::chrono::milliseconds duration) {
        test::runTask(recorder.start(folder()));
        test::spin(duration);
    }

    QTemporaryDir dir;
};

TEST_F(RecorderTest, TonesOfBothSourcesEndUpInTheConversation) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    SystemAudioRecorder recorder(platform::soundServerCapture, platform::ffmpegCodec());
    std::atomic<int> reports{0};
    std::atomic<float> loudestSystem{0};
    std::atomic<float> loudestMicrophone{0};
    recorder.onLevel = [&](float system, float microphone) {
        ++reports;
        loudestSystem = std::max(loudestSystem.load(), system);
        loudestMicrophone = std::max(loudestMicrophone.load(), microphone);
    };
    test::runTask(recorder.start(folder()));
    {
        Player speakers(dir.path(), "speakers", tone(440, 3.0, 0.3f));
        Player micfeed(dir.path(), "micfeed", tone(1000, 3.0, 0.3f));
        test::spin(3500ms);
    }
    const CaptureResult result = test::runTask(recorder.stop());

    EXPECT_EQ(result.file, folder() / "conversation.m4a");
    EXPECT_TRUE(result.warnings.isEmpty());
    EXPECT_GT(result.duration, 3.0);
    EXPECT_LT(result.duration, 4.5);
    // Both sources delivered for the whole recording (16 kHz, within the start-up hold-back).
    EXPECT_NEAR(static_cast<double>(result.systemFrames) / 16000, result.duration, 0.5);
    EXPECT_NEAR(static_cast<double>(result.microphoneFrames) / 16000, result.duration, 0.5);
    // The raw tracks stay for the owner, who removes them once its library names the mixed file.
    EXPECT_TRUE(std::filesystem::exists(folder() / "system.pcm"));
    EXPECT_TRUE(std::filesystem::exists(folder() / "microphone.pcm"));
    struct stat info {};
    ASSERT_EQ(::stat(folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(result.file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const DecodedAudio decoded = decodeAudioFile(result.file);
    ASSERT_EQ(decoded.sampleRate, 16000);
    EXPECT_NEAR(static_cast<double>(decoded.samples.size()), result.duration * 16000, 1024);
    // Look at a second where both tones play: from a quarter second after the computer's tone is
    // first heard. Stereo is averaged, not summed: a 0.3 tone comes back at 0.3, not 0.42 as with the
    // 0.707 default downmix.
    const double from = toneOnset(decoded, 440) + 0.25;
    ASSERT_LE(from + 1.0, secondsOf(decoded)) << "the tone was heard too late to measure";
    EXPECT_NEAR(toneLevel(decoded, 440, from, from + 1.0), 0.3, 0.05)
        << toneLevelsOverTime(decoded, {440, 1000});
    EXPECT_NEAR(toneLevel(decoded, 1000, from, from + 1.0), 0.3, 0.05);
    EXPECT_LT(toneLevel(decoded, 700, from, from + 1.0), 0.01);

    // Levels were reported, at most about seven times a second, and reached full scale (RMS 0.21).
    EXPECT_GT(reports.load(), 10);
    EXPECT_LT(reports.load(), 35);
    EXPECT_EQ(loudestSystem.load(), 1.0f);
    EXPECT_EQ(loudestMicrophone.load(), 1.0f);

    // A second stop has nothing left to stop.
    try {
        test::runTask(recorder.stop());
        FAIL() << "a second stop must fail";
    } catch (const ParloError& error) {
        EXPECT_EQ(error.message(), text("Запись не была начата."));
    }
}

TEST_F(RecorderTest, ClickLandsAtTheSamePlaceOfBothTracksAndShortRecordingKeepsThem) {
    // The microphone is remapped over the speakers' monitor here, so one click reaches both
    // sources at the same moment, through two different sources and streams.
    PrivateSoundServer server("speakers.monitor");
    ASSERT_TRUE(server.ready());
    SystemAudioRecorder recorder(platform::soundServerCapture, platform::ffmpegCodec());
    test::runTask(recorder.start(folder()));
    test::spin(300ms);
    std::vector<float> click(playbackRate / 2, 0.0f);
    for (std::size_t i = 0; i < 48; ++i)
        click[12000 + i] = 0.9f;
    {
        Player speakers(dir.path(), "speakers", click);
        test::spin(1200ms);
    }
    try {
        test::runTask(recorder.stop());
        FAIL() << "a recording of 1.5 s must fail";
    } catch (const ParloError& error) {
        EXPECT_EQ(error.message(), text("Запись короче двух секунд. Исходные дорожки сохранены."));
    }
    // The mix was made, and the raw tracks stay for inspection.
    EXPECT_TRUE(std::filesystem::exists(folder() / "conversation.m4a"));
    const auto system = readTrack(folder() / "system.pcm");
    const auto microphone = readTrack(folder() / "microphone.pcm");
    auto peak = [](const std::vector<float>& track) {
        return static_cast<std::ptrdiff_t>(
            std::max_element(track.begin(), track.end(),
                             [](float a, float b) { return std::abs(a) < std::abs(b); }) -
            track.begin());
    };
    ASSERT_FALSE(system.empty());
    ASSERT_FALSE(microphone.empty());
    const auto systemPeak = peak(system);
    const auto microphonePeak = peak(microphone);
    EXPECT_GT(std::abs(system[static_cast<std::size_t>(systemPeak)]), 0.2f);
    EXPECT_GT(std::abs(microphone[static_cast<std::size_t>(microphonePeak)]), 0.2f);
    EXPECT_GT(systemPeak, 1600); // not at the very start: the click came 0.25 s after the playback
    EXPECT_LE(std::abs(systemPeak - microphonePeak), 160)
        << "system " << systemPeak << ", microphone " << microphonePeak;
}

// A source suspended by the user stays silent on PulseAudio. pipewire-pulse resumes a suspended node
// as soon as a stream links to it, so there the suspended microphone delivers silence after all and
// no source can be made to deliver nothing at all.
constexpr const char* noSuspendOnPipeWire = "PipeWire resumes a suspended source for a new stream";

TEST_F(RecorderTest, SilentMicrophoneGivesTheOneWarning) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    if (server.onPipeWire())
        GTEST_SKIP() << noSuspendOnPipeWire;
    // A source suspended by the user delivers nothing at all, like an input that never starts.
    ASSERT_TRUE(server.pactl({text("suspend-source"), text("mic"), text("1")}).has_value());
    SystemAudioRecorder recorder(platform::soundServerCapture, platform::ffmpegCodec());
    test::runTask(recorder.start(folder()));
    {
        Player speakers(dir.path(), "speakers", tone(440, 3.0, 0.3f));
        test::spin(2600ms);
    }
    const CaptureResult result = test::runTask(recorder.stop());
    EXPECT_EQ(result.microphoneFrames, 0);
    EXPECT_GT(result.systemFrames, 16000);
    EXPECT_EQ(
        result.warnings,
        QStringList{text("Запись сохранена. Микрофон не поступал — в файле есть только звук компьютера.")});
}

TEST_F(RecorderTest, NothingAtAllFailsAndKeepsBothRawFiles) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    if (server.onPipeWire())
        GTEST_SKIP() << noSuspendOnPipeWire;
    ASSERT_TRUE(server.pactl({text("suspend-source"), text("mic"), text("1")}).has_value());
    ASSERT_TRUE(server.pactl({text("suspend-sink"), text("speakers"), text("1")}).has_value());
    SystemAudioRecorder recorder(platform::soundServerCapture, platform::ffmpegCodec());
    record(recorder, 1000ms);
    try {
        test::runTask(recorder.stop());
        FAIL() << "a capture without audio must fail";
    } catch (const ParloError& error) {
        EXPECT_EQ(
            error.message(),
            text("Звук не поступил ни с компьютера, ни с микрофона. Исходные файлы сохранены для проверки."));
    }
    EXPECT_TRUE(std::filesystem::exists(folder() / "system.pcm"));
    EXPECT_TRUE(std::filesystem::exists(folder() / "microphone.pcm"));
    EXPECT_FALSE(std::filesystem::exists(folder() / "conversation.m4a"));
}

TEST_F(RecorderTest, KilledDaemonReportsTheInterruptionAndStopSavesWhatArrived) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    SystemAudioRecorder recorder(platform::soundServerCapture, platform::ffmpegCodec());
    std::atomic<int> failures{0};
    QString failureText;
    recorder.onFailure = [&](const QString& message) {
        // Called on the sound server's thread: post to the test's thread, as the model does.
        QMetaObject::invokeMethod(
            qApp,
            [&, message] {
                failureText = message;
                ++failures;
            },
            Qt::QueuedConnection);
    };
    test::runTask(recorder.start(folder()));
    {
        Player speakers(dir.path(), "speakers", tone(440, 5.0, 0.3f));
        test::spin(2800ms);
        server.kill();
        test::spin(500ms);
    }
    EXPECT_EQ(failures.load(), 1);
    EXPECT_EQ(failureText, text("Захват звука прервался. Сохраняю доступные дорожки."));
    const CaptureResult result = test::runTask(recorder.stop());
    EXPECT_GT(result.duration, 2.0);
    EXPECT_LT(result.duration, 3.5);
    const DecodedAudio decoded = decodeAudioFile(result.file);
    // From a quarter second after the tone is first heard up to the last moments before the kill.
    const double from = toneOnset(decoded, 440) + 0.25;
    const double end = secondsOf(decoded) - 0.25;
    ASSERT_GE(end, from + 0.5) << "less than half a second of the tone arrived";
    EXPECT_NEAR(toneLevel(decoded, 440, from, end), 0.3, 0.05) << toneLevelsOverTime(decoded, {440});
}

// The mute state of the playback stream whose application.process.id is `pid`, once it shows up.
std::optional<bool> mutedPlaybackOf(const PrivateSoundServer& server, const QString& pid) {
    std::optional<bool> muted;
    test::waitUntil(
        [&] {
            const auto inputs = server.pactl({text("list"), text("sink-inputs")});
            for (const QString& block : inputs.value_or(QString()).split(text("Sink Input #"))) {
                if (block.contains(text("application.process.id = \"") + pid + text("\"")))
                    muted = block.contains(text("Mute: yes"));
            }
            return muted.has_value();
        },
        10s);
    return muted;
}

TEST_F(RecorderTest, OwnPlaybackDuringARecordingLeavesNoMuteBehind) {
    // The server remembers a mute per application and applies it to the application's next
    // streams: a capture that muted our player would leave every later playback of ours silent.
    // PulseAudio does it with module-stream-restore, loaded here; WirePlumber's restore-stream
    // always runs on PipeWire.
    const bool pipeWire = qEnvironmentVariable("PARLO_SOUND_SERVER") == text("pipewire");
    PrivateSoundServer server("micfeed.monitor",
                              pipeWire ? QStringList() : QStringList{text("module-stream-restore")});
    ASSERT_TRUE(server.ready());
    const QString ownPid = QString::number(::getpid());
    // Streams of our player, as the server sees them: our identity and this process's id.
    const QStringList ownPlayer{text("application.id=com.fernwick.parlo"),
                                text("application.process.id=") + ownPid};
    SystemAudioRecorder recorder(platform::soundServerCapture, platform::ffmpegCodec());
    test::runTask(recorder.start(folder()));
    {
        // Plays and ends while the capture runs.
        Player during(dir.path(), "speakers", tone(440, 0.5, 0.3f), ownPlayer);
        EXPECT_EQ(mutedPlaybackOf(server, ownPid), std::optional<bool>(false));
        test::spin(1000ms);
    }
    test::spin(1500ms); // a recording shorter than two seconds is not mixed
    test::runTask(recorder.stop());

    Player after(dir.path(), "speakers", tone(440, 3.0, 0.3f), ownPlayer);
    EXPECT_EQ(mutedPlaybackOf(server, ownPid), std::optional<bool>(false));
}

TEST_F(RecorderTest, CaptureStoppedFromTwoThreadsAtOnceStopsOnce) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    for (int round = 0; round < 3; ++round) {
        auto capture = platform::soundServerCapture();
        capture->prepare();
        std::atomic<int> chunks{0};
        capture->start([&chunks](CapturedChunk&&) { ++chunks; }, [] {});
        for (int wait = 0; wait < 200 && chunks.load() < 3; ++wait)
            QThread::msleep(10);
        ASSERT_GE(chunks.load(), 3);
        // The recorder's destructor and its stop thread, both stopping the capture.
        std::thread other([&capture] { capture->stop(); });
        capture->stop();
        other.join();
        const int stopped = chunks.load();
        QThread::msleep(100);
        EXPECT_EQ(chunks.load(), stopped) << "no buffer after the stop";
    }
}

// The name of the source our stream with `mediaName` records from.
QString sourceOf(const PrivateSoundServer& server, const QString& mediaName) {
    const auto outputs = server.pactl({text("list"), text("source-outputs")});
    const auto sources = server.pactl({text("list"), text("short"), text("sources")});
    if (!outputs || !sources)
        return {};
    for (const QString& block : outputs->split(text("Source Output #"))) {
        if (!block.contains(text("media.name = \"") + mediaName + text("\"")))
            continue;
        const auto at = block.indexOf(text("Source: "));
        const QString index = block.mid(at + 8).section(QLatin1Char('\n'), 0, 0).trimmed();
        for (const QString& line : sources->split(QLatin1Char('\n')))
            if (line.section(QLatin1Char('\t'), 0, 0) == index)
                return line.section(QLatin1Char('\t'), 1, 1);
    }
    return {};
}

TEST_F(RecorderTest, RecordingFollowsNewDefaultDevices) {
    PrivateSoundServer server("micfeed.monitor",
                              {text("module-null-sink sink_name=headset rate=48000 channels=2"),
                               text("module-null-sink sink_name=headsetmic rate=48000 channels=2"),
                               text("module-remap-source master=headsetmic.monitor source_name=headsetin")});
    ASSERT_TRUE(server.ready());
    SystemAudioRecorder recorder(platform::soundServerCapture, platform::ffmpegCodec());
    test::runTask(recorder.start(folder()));
    EXPECT_EQ(sourceOf(server, text("Mello Parlo system audio")), text("speakers.monitor"));
    EXPECT_EQ(sourceOf(server, text("Mello Parlo microphone")), text("mic"));
    test::spin(300ms);
    ASSERT_TRUE(server.pactl({text("set-default-sink"), text("headset")}).has_value());
    ASSERT_TRUE(server.pactl({text("set-default-source"), text("headsetin")}).has_value());
    test::spin(300ms);
    EXPECT_EQ(sourceOf(server, text("Mello Parlo system audio")), text("headset.monitor"));
    EXPECT_EQ(sourceOf(server, text("Mello Parlo microphone")), text("headsetin"));
    // A monitor that a null sink's new listener records from starts up to two seconds late here;
    // the tone runs long enough to be heard after that.
    {
        Player headset(dir.path(), "headset", tone(700, 4.5, 0.3f));
        Player headsetMic(dir.path(), "headsetmic", tone(1000, 4.5, 0.3f));
        test::spin(4000ms);
    }
    const CaptureResult result = test::runTask(recorder.stop());
    const DecodedAudio decoded = decodeAudioFile(result.file);
    // From a quarter second after the new devices are first heard, up to a second.
    const double from = toneOnset(decoded, 700) + 0.25;
    const double to = std::min(from + 1.0, secondsOf(decoded) - 0.25);
    ASSERT_GE(to, from + 0.5) << "the new devices were heard too late to measure\n"
                              << toneLevelsOverTime(decoded, {700, 1000});
    EXPECT_NEAR(toneLevel(decoded, 700, from, to), 0.3, 0.05) << toneLevelsOverTime(decoded, {700, 1000});
    EXPECT_NEAR(toneLevel(decoded, 1000, from, to), 0.3, 0.05);
}

TEST_F(RecorderTest, StartWithoutASoundServerFailsAndLeavesNothingBehind) {
    const QByteArray previous = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:" + dir.path().toUtf8() + "/no-such-socket");
    CapturePermissions::setBackend(platform::soundServerPermissions());
    SystemAudioRecorder recorder(platform::soundServerCapture, platform::ffmpegCodec());
    try {
        test::runTask(recorder.start(folder()));
        FAIL() << "start must fail without a sound server";
    } catch (const ParloError& error) {
        EXPECT_EQ(error.message(), text(CaptureText::accessMissing));
    }
    EXPECT_FALSE(std::filesystem::exists(folder()));
    qputenv("PULSE_SERVER", previous);
    CapturePermissions::setBackend(platform::soundServerPermissions());
}

} // namespace
} // namespace parlo
