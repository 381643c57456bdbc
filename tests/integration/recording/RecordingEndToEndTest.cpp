#include "LoopbackService.h"
#include "TestSoundServer.h"
#include "capture/CapturePermissions.h"
#include "capture/SystemAudioRecorder.h"
#include "detection/CallActivityProbe.h"
#include "library/LocalStore.h"
#include "model/AppModel.h"
#include "platform/AacFileWriter.h"
#include "platform/PlatformParts.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <gtest/gtest.h>

#include <csignal>

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

// The model's parts as the application has them, on the sound server of the test; no secret store.
AppModelServices soundServerServices(QSettings& settings) {
    AppModelServices services;
    services.settings = &settings;
    services.rememberSession = false;
    services.probe = std::make_shared<CallActivityProbe>(platform::soundServerAudioSystem());
    services.recorderFactory = platform::soundServerRecorders();
    services.microphoneAuthorized = [] { return CapturePermissions::microphoneAuthorized(); };
    services.systemAudioPermission = [] { return CapturePermissions::systemAudioPermission(); };
    return services;
}

} // namespace

TEST(RecordingEndToEnd, ACallIsRecordedAndSavedWithoutTheUser) {
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        GTEST_SKIP() << "needs the test sound server (scripts/test-sound-server)";
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    ScopedDataDir dataDir;
    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(text("parlo.ini")), QSettings::IniFormat);
    settings.setValue(text("automaticCallRecording"), true);

    AppModelServices services = soundServerServices(settings);
    AppModel model(false, std::move(services));
    ASSERT_TRUE(model.autoEnabled());

    QTemporaryDir playDir;
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

TEST(RecordingEndToEnd, SigtermDuringARecordingFinishesAndSavesIt) {
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        GTEST_SKIP() << "needs the test sound server (scripts/test-sound-server)";
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    QTemporaryDir home;
    const QString data = home.filePath(text("data"));
    QDir().mkpath(home.filePath(text("config/fernwick")));
    {
        QFile settings(home.filePath(text("config/fernwick/parlo.conf")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[General]\nautomaticCallRecording=true\n");
    }

    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(text("MELLO_PARLO_DATA_DIR"), data);
    env.insert(text("XDG_CONFIG_HOME"), home.filePath(text("config")));
    env.insert(text("QT_QPA_PLATFORM"), text("offscreen"));
    // No secret store here: the application starts signed out.
    env.insert(text("DBUS_SESSION_BUS_ADDRESS"), text("unix:path=/nonexistent/parlo-test-bus"));
    app.setProcessEnvironment(env);
    app.setStandardOutputFile(QProcess::nullDevice());
    app.start(text(MELLO_PARLO_BINARY), {});
    ASSERT_TRUE(app.waitForStarted(5000));

    QTemporaryDir playDir;
    Caller caller;
    Player speakers(playDir.path(), "speakers", tone(440, 10.0, 0.3f));
    Player micfeed(playDir.path(), "micfeed", tone(1000, 10.0, 0.3f));
    // The file itself says "recording" while the capture runs (loading would repair that in memory).
    auto libraryText = [&] {
        QFile library(data + text("/library.json"));
        return library.open(QIODevice::ReadOnly) ? library.readAll() : QByteArray();
    };
    const bool recording = waitUntil([&] { return libraryText().contains("\"status\":\"recording\""); },
                                     std::chrono::seconds(10));
    if (!recording) {
        app.kill();
        app.waitForFinished(3000);
        FAIL() << "no recording started: " << app.readAllStandardError().toStdString();
    }
    spin(std::chrono::seconds(3));

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM); // a second signal must not cut the stop short
    ASSERT_TRUE(app.waitForFinished(20000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);

    const QByteArray json = libraryText();
    EXPECT_FALSE(json.contains("\"status\":\"recording\"")) << json.toStdString();
    qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(data));
    const auto items = LocalStore::load();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].status, "waiting_login") << items[0].error.value_or("");
    EXPECT_TRUE(LocalStore::media(items[0]) && std::filesystem::exists(*LocalStore::media(items[0])));
    qunsetenv("MELLO_PARLO_DATA_DIR");
}

TEST(RecordingEndToEnd, ARecordingWithASessionEndsTranscribedWithoutTheUser) {
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        GTEST_SKIP() << "needs the test sound server (scripts/test-sound-server)";
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    ScopedDataDir dataDir;
    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(text("parlo.ini")), QSettings::IniFormat);
    dev::DevServiceOptions options;
    options.stageInterval = std::chrono::milliseconds(300);
    LoopbackService loopback(options);

    AppModelServices services = soundServerServices(settings);
    services.server = loopback.clientOptions();
    AppModel model(false, std::move(services));
    model.setPassword(text("parlo-dev-key"));
    runTask(model.login());
    ASSERT_TRUE(model.connected());

    QTemporaryDir playDir;
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
