#include "capture/CapturePermissions.h"
#include "capture/SystemAudioRecorder.h"
#include "codec/AacFileWriter.h"
#include "detection/CallActivityProbe.h"
#include "library/LocalStore.h"
#include "model/AppModel.h"
#include "platform/PlatformParts.h"
#include "support/LoopbackService.h"
#include "support/TestSoundServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <iostream>

using namespace parlo;
using namespace parlo::test;

namespace {

// Another application "in a call": a recording stream from the microphone under a foreign identity.
class Caller {
public:
    Caller() {
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(text("parec"), {text("--device=mic"), text("--raw"), text("--client-name=Test Caller"),
                                       text("--property=application.id=org.example.Caller"),
                                       text("--property=application.process.binary=caller")});
        process_.waitForStarted(5000);
    }
    ~Caller() { hangUp(); }
    void hangUp() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(3000);
        }
    }

private:
    QProcess process_;
};

// The built program over a data folder of its own, signed out (no secret store), auto-start as told.
class Program {
public:
    explicit Program(bool automatic = true) {
        QDir().mkpath(home_.filePath(text("config/fernwick")));
        QFile settings(home_.filePath(text("config/fernwick/parlo.conf")));
        if (automatic && settings.open(QIODevice::WriteOnly))
            settings.write("[General]\nautomaticCallRecording=true\n");
    }
    ~Program() {
        if (app_.state() != QProcess::NotRunning) {
            app_.kill();
            app_.waitForFinished(5000);
        }
    }

    QString data() const { return home_.filePath(text("data")); }
    QString config() const { return home_.filePath(text("config")); }
    QProcess& process() { return app_; }

    bool start(const QStringList& arguments = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(text("MELLO_PARLO_DATA_DIR"), data());
        env.insert(text("XDG_CONFIG_HOME"), config());
        env.insert(text("QT_QPA_PLATFORM"), text("offscreen"));
        env.insert(text("DBUS_SESSION_BUS_ADDRESS"), text("unix:path=/nonexistent/parlo-test-bus"));
        env.remove(text("MELLO_PARLO_CODEC_MODULE")); // it finds its codec as an installed program does
        app_.setProcessEnvironment(env);
        app_.setStandardOutputFile(QProcess::nullDevice());
        app_.start(text(MELLO_PARLO_BINARY), arguments);
        return app_.waitForStarted(5000);
    }

    void signal(int number) { ::kill(static_cast<pid_t>(app_.processId()), number); }

    // Ends the program with SIGTERM; its exit status, or -1 when it did not end normally in time.
    int terminate(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        signal(SIGTERM);
        if (!app_.waitForFinished(static_cast<int>(limit.count())) ||
            app_.exitStatus() != QProcess::NormalExit)
            return -1;
        return app_.exitCode();
    }

    // The file itself, which says "recording" while a capture runs (loading would repair that).
    QByteArray libraryText() const {
        QFile library(data() + text("/library.json"));
        return library.open(QIODevice::ReadOnly) ? library.readAll() : QByteArray();
    }

    std::vector<LocalRecording> library() const {
        qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(data()));
        auto items = LocalStore::load();
        qunsetenv("MELLO_PARLO_DATA_DIR");
        return items;
    }

    std::filesystem::path folder(const LocalRecording& item) const {
        return std::filesystem::path(data().toStdString()) / "Recordings" / *item.folderName;
    }

private:
    QTemporaryDir home_;
    QProcess app_;
};

// Waits for an automatic recording of the program to start; the time it did, as seen from here.
std::optional<std::chrono::steady_clock::time_point> recordingStarted(Program& program) {
    if (!waitUntil([&] { return program.libraryText().contains("\"status\":\"recording\""); },
                   std::chrono::seconds(10)))
        return std::nullopt;
    return std::chrono::steady_clock::now();
}

// A call of `seconds`: another application records the microphone while the computer plays 440 Hz
// and the microphone hears 1000 Hz.
struct Call {
    Call(const QString& folder, double seconds)
        : speakers(folder, "speakers", tone(440, seconds, 0.3f))
        , micfeed(folder, "micfeed", tone(1000, seconds, 0.3f)) {}
    Caller caller; // first: the call is there before its sound
    Player speakers;
    Player micfeed;
};

// The built program with automatic recording on, over a sound server of its own.
class ProgramInACall : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<PrivateSoundServer>();
        ASSERT_TRUE(server->ready());
        ASSERT_TRUE(program.start());
    }

    std::unique_ptr<Call> call(double seconds) { return std::make_unique<Call>(playDir.path(), seconds); }

    std::unique_ptr<PrivateSoundServer> server; // outlives the program: its members go first
    Program program;
    QTemporaryDir playDir;
};

// The levels of the two test tones (the computer's 440 Hz, the microphone's 1000 Hz) in the middle
// half of a decoded recording.
std::pair<double, double> toneLevels(const DecodedAudio& audio) {
    const double seconds = secondsOf(audio);
    return {toneLevel(audio, 440, seconds / 4, seconds * 3 / 4),
            toneLevel(audio, 1000, seconds / 4, seconds * 3 / 4)};
}

// The model in this process over a sound server and a data folder of its own.
class RecordingEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.ready()); }

    // The model's parts as the application has them, on the sound server of the test; no secret store.
    AppModelServices soundServerServices() {
        AppModelServices services;
        services.settings = &settings;
        services.rememberSession = false;
        services.probe = std::make_shared<CallActivityProbe>(platform::soundServerAudioSystem());
        services.recorderFactory = platform::soundServerRecorders();
        services.microphoneAuthorized = [] { return CapturePermissions::microphoneAuthorized(); };
        services.systemAudioPermission = [] { return CapturePermissions::systemAudioPermission(); };
        return services;
    }

    PrivateSoundServer server;
    ScopedDataDir dataDir;
    QTemporaryDir settingsDir;
    QSettings settings{settingsDir.filePath(text("parlo.ini")), QSettings::IniFormat};
    QTemporaryDir playDir;
};

} // namespace

TEST_F(RecordingEndToEnd, ACallIsRecordedAndSavedWithoutTheUser) {
    settings.setValue(text("automaticCallRecording"), true);

    AppModelServices services = soundServerServices();
    AppModel model(false, std::move(services));
    ASSERT_TRUE(model.autoEnabled());

    auto caller = std::make_unique<Caller>();
    Player speakers(playDir.path(), "speakers", tone(440, 8.0, 0.3f));
    Player micfeed(playDir.path(), "micfeed", tone(1000, 8.0, 0.3f));
    ASSERT_TRUE(waitUntil([&] { return model.recordingID().has_value(); }, std::chrono::seconds(8)))
        << model.statusTitle().toStdString();
    EXPECT_EQ(model.items().at(0).status, "recording");
    spin(std::chrono::seconds(4));
    caller.reset(); // the call ends

    ASSERT_TRUE(
        waitUntil([&] { return !model.recordingID() && !model.finalizing(); }, std::chrono::seconds(12)));
    ASSERT_EQ(model.items().size(), 1u);
    const LocalRecording entry = model.items()[0];
    EXPECT_EQ(entry.status, "waiting_login") << entry.error.value_or("");
    ASSERT_TRUE(entry.duration);
    // Started after about 1.6 s of call, ran about 4 s, stopped about 3.2 s after the call ended.
    EXPECT_GT(*entry.duration, 5.0);
    EXPECT_LT(*entry.duration, 12.0);
    auto file = LocalStore::media(entry);
    ASSERT_TRUE(file);
    const DecodedAudio audio = decodeAudioFile(*file);
    EXPECT_EQ(audio.sampleRate, 16000);
    EXPECT_NEAR(static_cast<double>(audio.samples.size()) / 16000.0, *entry.duration, 0.1);
    EXPECT_EQ(LocalStore::load().at(0).status, "waiting_login");
}

// Whether the program has FFmpeg in its memory: it loads its codec only to code audio.
bool carriesFfmpeg(Program& program) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(program.process().processId()));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libavcodec");
}

TEST_F(ProgramInACall, SigtermDuringARecordingFinishesAndSavesIt) {
    EXPECT_FALSE(carriesFfmpeg(program)) << "a program waiting for calls needs no codec";
    const auto ongoing = call(10.0);
    ASSERT_TRUE(recordingStarted(program)) << program.process().readAllStandardError().toStdString();
    spin(std::chrono::seconds(3));
    EXPECT_TRUE(carriesFfmpeg(program));

    program.signal(SIGTERM); // a second signal must not cut the stop short
    EXPECT_EQ(program.terminate(std::chrono::seconds(20)), 0);

    const QByteArray json = program.libraryText();
    EXPECT_FALSE(json.contains("\"status\":\"recording\"")) << json.toStdString();
    const auto items = program.library();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].status, "waiting_login") << items[0].error.value_or("");
    EXPECT_TRUE(std::filesystem::exists(program.folder(items[0]) / "conversation.m4a"));
    EXPECT_FALSE(std::filesystem::exists(program.folder(items[0]) / "system.pcm"));
}

// A crash, a SIGKILL or a power cut in the middle of a call: the raw tracks and the "recording"
// entry are on disk all along, and the next start mixes them into a normal entry.
TEST_F(ProgramInACall, ARecordingKilledMidCallIsRestoredAtTheNextStart) {
    const auto ongoing = call(20.0);
    const auto started = recordingStarted(program);
    ASSERT_TRUE(started) << program.process().readAllStandardError().toStdString();
    spin(std::chrono::seconds(10));
    program.signal(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(program.process().waitForFinished(5000));
    const double ran = std::chrono::duration<double>(killed - *started).count();
    ASSERT_TRUE(program.libraryText().contains("\"status\":\"recording\""));

    // Without a call the next start records nothing new: it only restores.
    ongoing->caller.hangUp();
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(
        waitUntil([&] { return program.libraryText().contains("\"fileName\""); }, std::chrono::seconds(30)));
    EXPECT_EQ(program.terminate(), 0);

    const auto items = program.library();
    ASSERT_EQ(items.size(), 1u);
    const LocalRecording& entry = items[0];
    EXPECT_EQ(entry.status, "waiting_login") << entry.error.value_or("");
    EXPECT_FALSE(entry.error);
    ASSERT_TRUE(entry.duration);
    // The entry was saved just before the capture connected; what is missing beyond that is
    // what the kill took.
    std::cout << "[ measured ] ran " << ran << " s from the saved entry to SIGKILL, restored "
              << *entry.duration << " s: at most " << ran - *entry.duration << " s lost\n";
    EXPECT_GT(*entry.duration, ran - 1.5);
    EXPECT_LE(*entry.duration, ran + 0.1);
    const auto file = program.folder(entry) / "conversation.m4a";
    const DecodedAudio audio = decodeAudioFile(file);
    EXPECT_NEAR(secondsOf(audio), *entry.duration, 0.1);
    const auto [system, microphone] = toneLevels(audio);
    EXPECT_GT(system, 0.1) << "the computer's tone, microphone " << microphone;
    EXPECT_GT(microphone, 0.1) << "the microphone's tone";
    EXPECT_FALSE(std::filesystem::exists(program.folder(entry) / "system.pcm"));
}

// Quitting while the stop of an ended call is mixing: the quit waits for the mix, links the file
// and only then ends the process.
TEST_F(ProgramInACall, SigtermDuringTheFinalMixEndsWithACompleteEntry) {
    const auto ongoing = call(70.0);
    ASSERT_TRUE(recordingStarted(program)) << program.process().readAllStandardError().toStdString();
    const std::filesystem::path folder = program.folder(program.library().at(0));
    // A long call makes a mix long enough to be caught: its private file exists only while it runs.
    spin(std::chrono::seconds(60));
    ongoing->caller.hangUp();
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(folder / ".conversation.m4a.partial"); },
                          std::chrono::seconds(15)))
        << "the mix was not seen";
    program.signal(SIGTERM);
    EXPECT_EQ(program.terminate(), 0);

    const auto items = program.library();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].status, "waiting_login") << items[0].error.value_or("");
    ASSERT_TRUE(items[0].fileName);
    EXPECT_GT(items[0].duration.value_or(0), 55.0);
    const DecodedAudio audio = decodeAudioFile(folder / *items[0].fileName);
    EXPECT_NEAR(secondsOf(audio), *items[0].duration, 0.1);
    EXPECT_FALSE(std::filesystem::exists(folder / ".conversation.m4a.partial"));
    EXPECT_FALSE(std::filesystem::exists(folder / "system.pcm"));
}

// The disk fills up in the middle of a call (a file-size limit set on the running program) and
// frees up again: the warning comes at once, and the stop mixes the audio on both sides of the gap.
TEST_F(ProgramInACall, AFullDiskMidCallWarnsAtOnceAndKeepsTheAudioAroundTheGap) {
    const auto ongoing = call(30.0);
    ASSERT_TRUE(recordingStarted(program)) << program.process().readAllStandardError().toStdString();
    const std::filesystem::path folder = program.folder(program.library().at(0));
    spin(std::chrono::seconds(4));

    const auto pid = static_cast<pid_t>(program.process().processId());
    rlimit unlimited{};
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, nullptr, &unlimited), 0);
    const auto written = std::max(std::filesystem::file_size(folder / "system.pcm"),
                                  std::filesystem::file_size(folder / "microphone.pcm"));
    const rlimit full{static_cast<rlim_t>(written + 16000), unlimited.rlim_max};
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, &full, nullptr), 0);
    const auto filled = std::chrono::steady_clock::now();
    QByteArray log;
    EXPECT_TRUE(waitUntil(
        [&] {
            log += program.process().readAllStandardError();
            return log.contains("a track write failed");
        },
        std::chrono::seconds(3)))
        << log.toStdString();
    spin(std::chrono::seconds(3));
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, &unlimited, nullptr), 0); // space again
    const std::chrono::duration<double> fullFor = std::chrono::steady_clock::now() - filled;
    spin(std::chrono::seconds(4));
    EXPECT_EQ(program.terminate(), 0);
    log += program.process().readAllStandardError();

    const auto items = program.library();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].status, "waiting_login") << items[0].error.value_or("");
    ASSERT_TRUE(items[0].fileName);
    const DecodedAudio audio = decodeAudioFile(folder / *items[0].fileName);
    const double seconds = secondsOf(audio);
    // Both tones before the gap, silence in it, both tones after it: the audio after the disk came
    // back is at its own place on the timeline. The gap on the track begins where the limit was
    // and ends about as long after the limit was set as the disk stayed full.
    const double gapStart = static_cast<double>(written + 16000) / (4.0 * 16000.0);
    const double gapEnd = static_cast<double>(written) / (4.0 * 16000.0) + fullFor.count();
    EXPECT_GT(seconds, gapEnd + 3.0);
    EXPECT_GT(toneLevel(audio, 440, 1.0, 3.0), 0.1);
    EXPECT_GT(toneLevel(audio, 1000, 1.0, 3.0), 0.1);
    EXPECT_LT(toneLevel(audio, 440, gapStart + 0.5, gapStart + 2.0), 0.02);
    EXPECT_GT(toneLevel(audio, 440, gapEnd + 0.5, gapEnd + 2.5), 0.1);
    EXPECT_GT(toneLevel(audio, 1000, gapEnd + 0.5, gapEnd + 2.5), 0.1);
    if (HasFailure())
        ADD_FAILURE() << "gap " << gapStart << "-" << gapEnd << " s of " << seconds << " s; levels:\n"
                      << toneLevelsOverTime(audio, {440, 1000}) << "program's log:\n"
                      << log.toStdString();
}

// The preview shows a synthetic library; run beside the user's own, it must leave it as it was.
TEST(ProgramEndToEnd, ThePreviewBesideARealLibraryWritesNothing) {
    Program program(false);
    QDir().mkpath(program.data());
    qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(program.data()));
    LocalRecording mine;
    mine.id = Uuid::random();
    mine.title = "Моя встреча";
    mine.status = "done";
    mine.stage = "Готово";
    mine.source = "Импорт";
    LocalStore::save({mine});
    qunsetenv("MELLO_PARLO_DATA_DIR");
    const QByteArray before = program.libraryText();
    ASSERT_FALSE(before.isEmpty());

    ASSERT_TRUE(program.start({text("--preview")}));
    spin(std::chrono::seconds(2)); // up, with its window and the fixture
    EXPECT_EQ(program.terminate(), 0) << program.process().readAllStandardError().toStdString();
    EXPECT_EQ(program.libraryText(), before);
    EXPECT_EQ(
        QDir(program.data()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
        (QStringList{text("Recordings"), text("library.json")}));
    EXPECT_TRUE(QDir(program.config() + text("/fernwick")).isEmpty()) << "no settings written";
}

TEST_F(RecordingEndToEnd, ARecordingWithASessionEndsTranscribedWithoutTheUser) {
    dev::DevServiceOptions options;
    options.stageInterval = std::chrono::milliseconds(300);
    LoopbackService loopback(options);

    AppModelServices services = soundServerServices();
    services.server = loopback.clientOptions();
    AppModel model(false, std::move(services));
    model.setPassword(text("parlo-dev-key"));
    runTask(model.login());
    ASSERT_TRUE(model.connected());

    Player speakers(playDir.path(), "speakers", tone(440, 5.0, 0.3f));
    Player micfeed(playDir.path(), "micfeed", tone(1000, 5.0, 0.3f));
    runTask(model.recordNow());
    ASSERT_TRUE(model.recordingID()) << model.message().value_or(QString()).toStdString();
    spin(std::chrono::seconds(3));
    runTask(model.stopRecording(true), std::chrono::seconds(30));

    // From here on only the timer's ticks and the queue move the recording.
    ASSERT_TRUE(waitUntil(
        [&] {
            auto items = LocalStore::load();
            return !items.empty() && items[0].status == "done" && items[0].result;
        },
        std::chrono::seconds(40)))
        << model.items().at(0).status << " " << model.items().at(0).stage << " "
        << model.items().at(0).error.value_or("");
    const LocalRecording stored = LocalStore::load().at(0);
    EXPECT_TRUE(stored.remoteID);
    EXPECT_FALSE(stored.result->value().segments.empty());
    EXPECT_EQ(stored.fileName, std::optional<std::string>("conversation.m4a"));
}
