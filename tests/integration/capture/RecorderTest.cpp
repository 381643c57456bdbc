// SystemAudioRecorder end to end: tones played into the test daemon's sinks come out in
// "conversation.m4a", both tracks share one timeline, and the stop sequence reports what it must.
#include "capture/CapturePermissions.h"
#include "capture/SystemAudioRecorder.h"
#include "platform/AacFileWriter.h"
#include "server/ParloError.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
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

namespace parlo {
namespace {

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A PulseAudio daemon of this test alone, laid out like scripts/test-sound-server, in a private
// runtime folder; PULSE_SERVER points at it while it lives. Stopped by its own pid.
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(const QByteArray& micMaster = "micfeed.monitor",
                                const QByteArray& extra = {}) {
        const QString runtime = dir_.path() + text("/runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(dir_.path() + text("/home"));
        const QString socket = runtime + text("/native");
        QFile config(dir_.path() + text("/daemon.pa"));
        config.open(QIODevice::WriteOnly);
        config.write("load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket.toUtf8() +
                     "\n" +
                     "load-module module-null-sink sink_name=speakers rate=48000 channels=2\n"
                     "load-module module-null-sink sink_name=micfeed rate=48000 channels=2\n"
                     "load-module module-remap-source master=" +
                     micMaster +
                     " source_name=mic\n"
                     "load-module module-null-source source_name=keepalive rate=48000 channels=2\n"
                     "load-module module-loopback source=keepalive sink=speakers latency_msec=10 "
                     "source_dont_move=true sink_dont_move=true\n"
                     "load-module module-loopback source=keepalive sink=micfeed latency_msec=10 "
                     "source_dont_move=true sink_dont_move=true\n" +
                     extra +
                     "set-default-sink speakers\n"
                     "set-default-source mic\n");
        config.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(text("HOME"), dir_.path() + text("/home"));
        env.insert(text("XDG_RUNTIME_DIR"), runtime);
        daemon_.setProcessEnvironment(env);
        daemon_.setStandardOutputFile(QProcess::nullDevice());
        daemon_.setStandardErrorFile(dir_.path() + text("/daemon.log"));
        daemon_.start(text("pulseaudio"),
                      {text("--daemonize=no"), text("--exit-idle-time=-1"), text("-n"), text("-F"),
                       config.fileName(), text("--use-pid-file=no"), text("--disallow-exit")});
        previous_ = qgetenv("PULSE_SERVER");
        server_ = "unix:" + socket.toUtf8();
        qputenv("PULSE_SERVER", server_);
        if (!daemon_.waitForStarted(5000))
            return;
        for (int i = 0; i < 200 && !ready_; ++i) {
            ready_ = pactl({text("info")}).has_value();
            if (!ready_)
                QThread::msleep(25);
        }
        // Right after the daemon starts, a monitor recording starts up to two seconds late, until
        // the keep-alive loopbacks run: wait for that, so the tests measure the recorder.
        if (ready_)
            ready_ = warmUp("speakers.monitor") && warmUp("mic");
        // A fresh backend: the previous one may remember an answer of another daemon.
        CapturePermissions::setBackend(nullptr);
    }

    ~PrivateSoundServer() {
        kill();
        qputenv("PULSE_SERVER", previous_);
        CapturePermissions::setBackend(nullptr);
    }

    bool ready() const { return ready_; }
    QByteArray server() const { return server_; }

    // Ends the daemon the hard way, as a crash would.
    void kill() {
        const qint64 pid = daemon_.processId();
        if (pid > 0 && daemon_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            daemon_.waitForFinished(5000);
        }
    }

    bool warmUp(const char* source) {
        for (int attempt = 0; attempt < 40; ++attempt) {
            QProcess parec;
            parec.start(text("parec"),
                        {text("--device=") + text(source), text("--raw"), text("--latency-msec=10")});
            parec.waitForStarted(5000);
            const bool prompt = parec.waitForReadyRead(150);
            parec.kill();
            parec.waitForFinished(3000);
            if (prompt)
                return true;
        }
        return false;
    }

    std::optional<QString> pactl(const QStringList& arguments) const {
        QProcess process;
        process.start(text("pactl"), arguments);
        if (!process.waitForFinished(5000) || process.exitCode() != 0)
            return std::nullopt;
        return QString::fromUtf8(process.readAllStandardOutput());
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QByteArray previous_;
    QByteArray server_;
    bool ready_ = false;
};

constexpr int playbackRate = 48000;

std::vector<float> tone(double hz, double seconds, float amplitude, int rate = playbackRate) {
    std::vector<float> v(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = amplitude *
               static_cast<float>(std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    return v;
}

// Plays mono float samples into a sink with pacat, as another application would.
class Player {
public:
    Player(const QString& folder, const char* sink, const std::vector<float>& samples,
           const QStringList& properties = {}) {
        const QString file = folder + text("/play-") + text(sink) + QString::number(counter++) + text(".raw");
        std::ofstream out(file.toStdString(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(samples.data()),
                  static_cast<std::streamsize>(samples.size() * 4));
        out.close();
        QStringList arguments{text("--playback"),         text("--device=") + text(sink),
                              text("--format=float32le"), text("--rate=48000"),
                              text("--channels=1"),       text("--raw"),
                              text("--latency-msec=20"),  text("--client-name=test player")};
        for (const auto& property : properties)
            arguments << text("--property=") + property;
        arguments << file;
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(text("pacat"), arguments);
        process_.waitForStarted(5000);
    }
    ~Player() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(3000);
        }
    }

private:
    static inline int counter = 0;
    QProcess process_;
};

// The amplitude of the `hz` component of `samples` (a sine of amplitude a gives about a).
double amplitudeAt(const std::vector<float>& samples, std::size_t from, std::size_t to, double hz, int rate) {
    double re = 0;
    double im = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double phase = 2 * std::numbers::pi * hz * static_cast<double>(i) / rate;
        re += samples[i] * std::cos(phase);
        im += samples[i] * std::sin(phase);
    }
    return 2 * std::hypot(re, im) / static_cast<double>(to - from);
}

std::vector<float> readRaw(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

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
    SystemAudioRecorder recorder;
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
    EXPECT_FALSE(std::filesystem::exists(folder() / "system.pcm"));
    EXPECT_FALSE(std::filesystem::exists(folder() / "microphone.pcm"));
    struct stat info {};
    ASSERT_EQ(::stat(folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(result.file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const DecodedAudio decoded = decodeAudioFile(result.file);
    ASSERT_EQ(decoded.sampleRate, 16000);
    EXPECT_NEAR(static_cast<double>(decoded.samples.size()), result.duration * 16000, 1024);
    // Look at the middle second, where both tones play. Stereo is averaged, not summed: a 0.3
    // tone comes back at 0.3, not 0.42 as with the 0.707 default downmix.
    const std::size_t from = 16000;
    const std::size_t to = 32000;
    EXPECT_NEAR(amplitudeAt(decoded.samples, from, to, 440, 16000), 0.3, 0.05);
    EXPECT_NEAR(amplitudeAt(decoded.samples, from, to, 1000, 16000), 0.3, 0.05);
    EXPECT_LT(amplitudeAt(decoded.samples, from, to, 700, 16000), 0.01);

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
    SystemAudioRecorder recorder;
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
    const auto system = readRaw(folder() / "system.pcm");
    const auto microphone = readRaw(folder() / "microphone.pcm");
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

TEST_F(RecorderTest, SilentMicrophoneGivesTheOneWarning) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    // A source suspended by the user delivers nothing at all, like an input that never starts.
    ASSERT_TRUE(server.pactl({text("suspend-source"), text("mic"), text("1")}).has_value());
    SystemAudioRecorder recorder;
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
    ASSERT_TRUE(server.pactl({text("suspend-source"), text("mic"), text("1")}).has_value());
    ASSERT_TRUE(server.pactl({text("suspend-sink"), text("speakers"), text("1")}).has_value());
    SystemAudioRecorder recorder;
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
    SystemAudioRecorder recorder;
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
    EXPECT_NEAR(amplitudeAt(decoded.samples, 8000, 24000, 440, 16000), 0.3, 0.05);
}

TEST_F(RecorderTest, OwnPlaybackStaysOutOfTheSystemTrackAndGetsItsSoundBack) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    SystemAudioRecorder recorder;
    const QString ownPid = QString::number(::getpid());
    test::runTask(recorder.start(folder()));
    {
        // Our own player (it carries this process's id) and another application, both on the
        // speakers; the own one is already playing when the second starts.
        Player own(dir.path(), "speakers", tone(440, 4.0, 0.3f), {text("application.process.id=") + ownPid});
        test::spin(300ms);
        Player other(dir.path(), "speakers", tone(1000, 3.0, 0.3f));
        test::spin(2500ms);
        const CaptureResult result = test::runTask(recorder.stop());
        const DecodedAudio decoded = decodeAudioFile(result.file);
        EXPECT_NEAR(amplitudeAt(decoded.samples, 16000, 32000, 1000, 16000), 0.3, 0.05);
        EXPECT_LT(amplitudeAt(decoded.samples, 16000, 32000, 440, 16000), 0.01);
        // The capture is over: our playback is audible again.
        const auto inputs = server.pactl({text("list"), text("sink-inputs")});
        ASSERT_TRUE(inputs.has_value());
        EXPECT_FALSE(inputs->contains(text("Mute: yes"))) << inputs->toStdString();
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
                              "load-module module-null-sink sink_name=headset rate=48000 channels=2\n"
                              "load-module module-null-sink sink_name=headsetmic rate=48000 channels=2\n"
                              "load-module module-remap-source master=headsetmic.monitor "
                              "source_name=headsetin\n");
    ASSERT_TRUE(server.ready());
    SystemAudioRecorder recorder;
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
    const std::size_t end = decoded.samples.size() - 4000;
    EXPECT_NEAR(amplitudeAt(decoded.samples, end - 8000, end, 700, 16000), 0.3, 0.05);
    EXPECT_NEAR(amplitudeAt(decoded.samples, end - 8000, end, 1000, 16000), 0.3, 0.05);
}

TEST_F(RecorderTest, StartWithoutASoundServerFailsAndLeavesNothingBehind) {
    const QByteArray previous = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:" + dir.path().toUtf8() + "/no-such-socket");
    CapturePermissions::setBackend(nullptr);
    SystemAudioRecorder recorder;
    try {
        test::runTask(recorder.start(folder()));
        FAIL() << "start must fail without a sound server";
    } catch (const ParloError& error) {
        EXPECT_EQ(error.message(), text("Разрешите микрофон и запись системного звука в настройках macOS."));
    }
    EXPECT_FALSE(std::filesystem::exists(folder()));
    qputenv("PULSE_SERVER", previous);
    CapturePermissions::setBackend(nullptr);
}

} // namespace
} // namespace parlo
