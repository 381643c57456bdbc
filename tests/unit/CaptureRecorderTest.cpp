// The recorder's start and stop sequences with capture services that cannot exist on a working
// machine: one that delivers nothing, one that only plays synthetic system audio, ones that fail.
// The real sound server is exercised in tests/integration/capture.
#include "capture/AudioMixer.h"
#include "capture/CapturePermissions.h"
#include "capture/CaptureTexts.h"
#include "capture/SystemAudioRecorder.h"
#include "codec/AacFileWriter.h"
#include "core/ParloError.h"
#include "support/TestSupport.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <semaphore>
#include <thread>

namespace parlo {
namespace {

using test::text;

class GrantedPermissions final : public PermissionBackend {
public:
    bool microphone = true;
    bool preflight = true;
    bool microphoneAuthorized() override { return microphone; }
    bool systemAudioPreflight() override { return preflight; }
    QCoro::Task<> verifySystemAudio() override { co_return; }
};

// Delivers `seconds` of a system-audio sine from its own thread, like the sound server's thread
// would, and nothing from the microphone. Or fails where told to.
class ScriptedSource final : public CaptureSource {
public:
    double seconds = 0.0;
    bool failPrepare = false;
    bool failStart = false;
    bool holdStop = false; // stop() waits for letStopFinish()
    std::binary_semaphore stopGate{0};

    void letStopFinish() { stopGate.release(); }

    void prepare() override {
        if (failPrepare)
            throw ParloError(CaptureText::noSystemAudio);
    }
    void start(ChunkHandler onChunk, StopHandler) override {
        if (failStart)
            throw PlatformError(std::string("Sound server: Connection refused"));
        thread_ = std::thread([this, onChunk = std::move(onChunk)] {
            const int buffers = static_cast<int>(seconds * 100);
            for (int k = 0; k < buffers; ++k) {
                CapturedChunk chunk;
                chunk.source = CaptureSourceKind::system;
                chunk.sampleRate = 48000;
                chunk.channels = 2;
                chunk.samples.resize(960);
                for (int i = 0; i < 480; ++i)
                    chunk.samples[2 * i] = chunk.samples[2 * i + 1] =
                        0.3f *
                        static_cast<float>(std::sin(2 * std::numbers::pi * 440 * (k * 480 + i) / 48000.0));
                chunk.readTime = 1000.0 + k * 0.01 + 0.03;
                chunk.latency = 0.02;
                onChunk(std::move(chunk));
            }
        });
    }
    void stop() override {
        if (std::exchange(holdStop, false))
            stopGate.acquire();
        if (thread_.joinable())
            thread_.join();
    }
    ~ScriptedSource() override { stop(); }

private:
    std::thread thread_;
};

// FFmpeg's codec with faults injected into the first encoder it makes (the recording's mix while
// recording); it counts the encoders, so a test sees whether the stop had to mix the whole call.
class FaultyDiskCodec final : public AudioCodec {
public:
    enum class Fault { none, failingWrite, slowWrite, failingFinish };
    explicit FaultyDiskCodec(Fault fault) : fault_(fault) {}

    std::unique_ptr<AudioEncoder> createEncoder(const std::filesystem::path& output, int sampleRate,
                                                int bitRate) override {
        auto real = real_->createEncoder(output, sampleRate, bitRate);
        return ++encoders == 1 ? std::make_unique<Encoder>(std::move(real), fault_) : std::move(real);
    }
    std::unique_ptr<SampleConverter> createConverter(int inputRate, int inputChannels,
                                                     int outputRate) override {
        return real_->createConverter(inputRate, inputChannels, outputRate);
    }
    std::int64_t fileFrames(const std::filesystem::path& file) override { return real_->fileFrames(file); }

    std::atomic<int> encoders{0};

private:
    class Encoder final : public AudioEncoder {
    public:
        Encoder(std::unique_ptr<AudioEncoder> real, Fault fault) : real_(std::move(real)), fault_(fault) {}
        void write(std::span<const float> samples) override {
            // The second second of audio meets the bad disk.
            if (real_->samplesWritten() >= AudioMixer::sampleRate && fault_ == Fault::failingWrite)
                throw PlatformError("Cannot write: Input/output error",
                                    std::make_error_code(std::errc::io_error));
            if (real_->samplesWritten() >= AudioMixer::sampleRate && fault_ == Fault::slowWrite)
                std::this_thread::sleep_for(IncrementalMixer::slowStep * 2);
            real_->write(samples);
        }
        void finish() override {
            if (fault_ == Fault::failingFinish)
                throw PlatformError("Cannot finish: No space left on device",
                                    std::make_error_code(std::errc::no_space_on_device));
            real_->finish();
        }
        std::int64_t samplesWritten() const override { return real_->samplesWritten(); }

    private:
        std::unique_ptr<AudioEncoder> real_;
        Fault fault_;
    };

    std::shared_ptr<AudioCodec> real_ = test::ffmpeg();
    Fault fault_;
};

class CaptureRecorderTest : public ::testing::Test {
protected:
    void SetUp() override { CapturePermissions::setBackend(permissions); }
    void TearDown() override { CapturePermissions::setBackend(nullptr); }

    std::filesystem::path folder() const {
        return std::filesystem::path(dir.path().toStdString()) / "Recordings" / "x";
    }

    SystemAudioRecorder::SourceFactory scripted(std::function<void(ScriptedSource&)> setUp) {
        return [setUp] {
            auto source = std::make_unique<ScriptedSource>();
            setUp(*source);
            return source;
        };
    }

    template <typename T> QString failureOf(QCoro::Task<T> task) {
        try {
            test::runTask(std::move(task));
        } catch (const std::exception& error) {
            return describeError(error);
        }
        return {};
    }

    std::shared_ptr<GrantedPermissions> permissions = std::make_shared<GrantedPermissions>();
    QTemporaryDir dir;
};

TEST_F(CaptureRecorderTest, SystemAudioAloneIsSavedWithTheOneWarning) {
    SystemAudioRecorder recorder(scripted([](ScriptedSource& s) { s.seconds = 3.0; }), test::ffmpeg());
    test::runTask(recorder.start(folder()));
    const CaptureResult result = test::runTask(recorder.stop());
    EXPECT_EQ(result.microphoneFrames, 0);
    EXPECT_NEAR(static_cast<double>(result.systemFrames), 48000, 200);
    EXPECT_NEAR(result.duration, 3.0, 0.02);
    EXPECT_EQ(
        result.warnings,
        QStringList{text("Запись сохранена. Микрофон не поступал — в файле есть только звук компьютера.")});
    EXPECT_TRUE(std::filesystem::exists(folder() / "conversation.m4a"));
    // Its owner removes them once the library names the mixed file.
    EXPECT_TRUE(std::filesystem::exists(folder() / "system.pcm"));
    EXPECT_TRUE(std::filesystem::exists(folder() / "microphone.pcm"));
}

TEST_F(CaptureRecorderTest, TheMixWhileRecordingIsTheFileAndMatchesTheMixAfterTheCall) {
    auto codec = std::make_shared<FaultyDiskCodec>(FaultyDiskCodec::Fault::none);
    SystemAudioRecorder recorder(scripted([](ScriptedSource& s) { s.seconds = 12.0; }), codec);
    test::runTask(recorder.start(folder()));
    const CaptureResult result = test::runTask(recorder.stop());
    EXPECT_EQ(codec->encoders.load(), 1) << "the stop only completed the mix made while recording";
    const auto offline = folder() / "offline.m4a";
    EXPECT_DOUBLE_EQ(result.duration, AudioMixer::mix(folder() / "system.pcm", folder() / "microphone.pcm",
                                                      offline, *test::ffmpeg()));
    EXPECT_EQ(decodeAudioFile(result.file).samples, decodeAudioFile(offline).samples);
    EXPECT_EQ(result.warnings.size(), 1);
}

TEST_F(CaptureRecorderTest, AFailingOrSlowDiskUnderTheMixWhileRecordingFallsBackToTheMixAfterTheCall) {
    using Fault = FaultyDiskCodec::Fault;
    for (const Fault fault : {Fault::failingWrite, Fault::slowWrite, Fault::failingFinish}) {
        SCOPED_TRACE(static_cast<int>(fault));
        const auto recording = folder() / std::to_string(static_cast<int>(fault));
        auto codec = std::make_shared<FaultyDiskCodec>(fault);
        SystemAudioRecorder recorder(scripted([](ScriptedSource& s) { s.seconds = 12.0; }), codec);
        test::runTask(recorder.start(recording));
        const CaptureResult result = test::runTask(recorder.stop());
        EXPECT_EQ(codec->encoders.load(), 2);
        EXPECT_NEAR(result.duration, 12.0, 0.05);
        const auto offline = recording / "offline.m4a";
        AudioMixer::mix(recording / "system.pcm", recording / "microphone.pcm", offline, *test::ffmpeg());
        EXPECT_EQ(decodeAudioFile(result.file).samples, decodeAudioFile(offline).samples);
        EXPECT_FALSE(std::filesystem::exists(recording / ".conversation.m4a.partial"));
    }
}

TEST_F(CaptureRecorderTest, NothingDeliveredFailsAndKeepsBothEmptyRawFiles) {
    SystemAudioRecorder recorder(scripted([](ScriptedSource&) {}), test::ffmpeg());
    test::runTask(recorder.start(folder()));
    EXPECT_EQ(
        failureOf(recorder.stop()),
        text("Звук не поступил ни с компьютера, ни с микрофона. Исходные файлы сохранены для проверки."));
    ASSERT_TRUE(std::filesystem::exists(folder() / "system.pcm"));
    ASSERT_TRUE(std::filesystem::exists(folder() / "microphone.pcm"));
    EXPECT_EQ(std::filesystem::file_size(folder() / "system.pcm"), 0u);
}

TEST_F(CaptureRecorderTest, ShortRecordingFailsAfterTheMixAndKeepsTheRawTracks) {
    SystemAudioRecorder recorder(scripted([](ScriptedSource& s) { s.seconds = 1.5; }), test::ffmpeg());
    test::runTask(recorder.start(folder()));
    EXPECT_EQ(failureOf(recorder.stop()), text("Запись короче двух секунд. Исходные дорожки сохранены."));
    EXPECT_TRUE(std::filesystem::exists(folder() / "conversation.m4a"));
    EXPECT_GT(std::filesystem::file_size(folder() / "system.pcm"), 90000u);
}

TEST_F(CaptureRecorderTest, StopWithoutStartAndSecondStopFail) {
    SystemAudioRecorder never(scripted([](ScriptedSource&) {}), test::ffmpeg());
    EXPECT_EQ(failureOf(never.stop()), text("Запись не была начата."));

    SystemAudioRecorder recorder(scripted([](ScriptedSource& s) { s.seconds = 2.5; }), test::ffmpeg());
    test::runTask(recorder.start(folder()));
    test::runTask(recorder.stop());
    EXPECT_EQ(failureOf(recorder.stop()), text("Запись не была начата."));
}

TEST_F(CaptureRecorderTest, MissingPermissionRefusesBeforeAnythingIsCreated) {
    permissions->microphone = false;
    SystemAudioRecorder recorder(scripted([](ScriptedSource& s) { s.seconds = 3.0; }), test::ffmpeg());
    EXPECT_EQ(failureOf(recorder.start(folder())), text(CaptureText::accessMissing));
    EXPECT_FALSE(std::filesystem::exists(folder()));

    permissions->microphone = true;
    permissions->preflight = false;
    EXPECT_EQ(failureOf(recorder.start(folder())), text(CaptureText::accessMissing));
}

TEST_F(CaptureRecorderTest, NoOutputToRecordFromFailsBeforeTheFolderIsMade) {
    SystemAudioRecorder recorder(scripted([](ScriptedSource& s) { s.failPrepare = true; }), test::ffmpeg());
    EXPECT_EQ(failureOf(recorder.start(folder())), text(CaptureText::noSystemAudio));
    EXPECT_FALSE(std::filesystem::exists(folder()));
}

TEST_F(CaptureRecorderTest, FailedStartLeavesNoRawFilesThatLookLikeARecording) {
    SystemAudioRecorder recorder(scripted([](ScriptedSource& s) { s.failStart = true; }), test::ffmpeg());
    EXPECT_EQ(failureOf(recorder.start(folder())), text("Sound server: Connection refused"));
    EXPECT_FALSE(std::filesystem::exists(folder() / "system.pcm"));
    EXPECT_FALSE(std::filesystem::exists(folder() / "microphone.pcm"));
    EXPECT_FALSE(std::filesystem::exists(folder())); // it made the folder, so it took it away again
    EXPECT_EQ(failureOf(recorder.stop()), text("Запись не была начата."));
}

TEST_F(CaptureRecorderTest, FullDiskKeepsWhatWasWrittenAndWarnsInsteadOfFailing) {
    std::atomic<int> reports{0};
    std::error_code reported;
    SystemAudioRecorder recorder(scripted([](ScriptedSource& s) { s.seconds = 4.0; }), test::ffmpeg());
    recorder.onWriteFailure = [&](std::error_code error) {
        reported = error;
        ++reports;
    };
    CaptureResult result;
    {
        // Room for 2.5 s of a track; the small mixed file still fits.
        test::ScopedFileSizeLimit full(160000);
        test::runTask(recorder.start(folder()));
        result = test::runTask(recorder.stop());
    }
    EXPECT_EQ(reports.load(), 1);
    EXPECT_EQ(reported, std::errc::file_too_large);
    EXPECT_NEAR(result.duration, 2.5, 0.05);
    EXPECT_EQ(
        result.warnings,
        (QStringList{text("Запись сохранена. Микрофон не поступал — в файле есть только звук компьютера."),
                     text("Диск был заполнен — часть разговора не записалась.")}));
    EXPECT_TRUE(std::filesystem::exists(folder() / "conversation.m4a"));
}

TEST_F(CaptureRecorderTest, DestructionWaitsForTheStopInProgress) {
    ScriptedSource* source = nullptr;
    auto recorder = std::make_unique<SystemAudioRecorder>(scripted([&source](ScriptedSource& s) {
                                                              s.seconds = 3.0;
                                                              s.holdStop = true;
                                                              source = &s;
                                                          }),
                                                          test::ffmpeg());
    test::runTask(recorder->start(folder()));
    auto stopping = recorder->stop(); // its thread now waits inside the capture service's stop
    std::thread release([source] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        source->letStopFinish();
    });
    recorder.reset();
    release.join();
    EXPECT_TRUE(std::filesystem::exists(folder() / "conversation.m4a")) << "the stop's file work ran first";
    const CaptureResult result = test::runTask(std::move(stopping));
    EXPECT_NEAR(result.duration, 3.0, 0.05);
}

} // namespace
} // namespace parlo
