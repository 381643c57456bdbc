// The sound-server monitor on a private daemon: it follows streams and default devices as they
// change, follows a restarted server, and a frozen server leaves the model's tick quick while
// detection and the permission mirrors report it unavailable.
#include "platform/SoundServerMonitor.h"
#include "capture/CapturePermissions.h"
#include "detection/CallActivityProbe.h"
#include "model/AppModel.h"
#include "platform/PlatformParts.h"
#include "support/TestSoundServer.h"
#include "support/TestSupport.h"

#include <QSettings>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace parlo {
namespace {

using namespace parlo::test;

// The recording stream of the client whose application.process.id is `pid`, if the monitor has it.
std::optional<SoundServerStream> recordingOf(const platform::SoundServerMonitor& monitor, pid_t pid) {
    const auto state = monitor.state();
    if (!state)
        return std::nullopt;
    for (const SoundServerStream& stream : state->streams) {
        for (const SoundServerClient& client : state->clients) {
            if (client.index == stream.client && client.identity.processId == pid &&
                stream.direction == SoundServerStream::Direction::Record)
                return stream;
        }
    }
    return std::nullopt;
}

class SoundServerMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = std::make_unique<PrivateSoundServer>();
        ASSERT_TRUE(server_->ready());
        monitor_ = platform::settledSoundServerMonitor();
        ASSERT_TRUE(monitor_->state().has_value());
    }

    std::unique_ptr<PrivateSoundServer> server_;
    std::shared_ptr<platform::SoundServerMonitor> monitor_;
};

TEST_F(SoundServerMonitorTest, FollowsStreamsAndDefaultDevicesAsTheyChange) {
    const auto permissions = platform::soundServerPermissions(monitor_);
    EXPECT_TRUE(permissions->microphoneAuthorized());
    EXPECT_TRUE(permissions->systemAudioPreflight());

    Child caller({"parec", "--device=mic", "--raw", "--client-name=Test Caller",
                  "--property=application.id=org.example.Caller"});
    ASSERT_TRUE(caller.started());
    ASSERT_TRUE(waitUntil([&] { return recordingOf(*monitor_, caller.pid()).has_value(); }, 10s));
    const SoundServerStream stream = *recordingOf(*monitor_, caller.pid());
    EXPECT_FALSE(stream.fromMonitor);
    EXPECT_EQ(stream.identity.applicationId, "org.example.Caller");

    // A monitor chosen as the default input is no microphone; the mirror follows within moments.
    ASSERT_TRUE(server_->pactl({text("set-default-source"), text("speakers.monitor")}).has_value());
    EXPECT_TRUE(waitUntil([&] { return !permissions->microphoneAuthorized(); }, 10s));
    EXPECT_TRUE(permissions->systemAudioPreflight());

    const pid_t gone = caller.pid();
    caller.stop(SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return !recordingOf(*monitor_, gone).has_value(); }, 10s));
}

TEST_F(SoundServerMonitorTest, FollowsARestartedServer) {
    if (server_->onPipeWire())
        GTEST_SKIP() << "the fixture restarts PulseAudio only (PipeWire's pulse layer is one of three "
                        "daemons the script owns); the monitor does not tell the two apart";
    server_->kill();
    ASSERT_TRUE(waitUntil([&] { return !monitor_->state().has_value(); }, 10s));
    EXPECT_FALSE(monitor_->devices().reachable);

    ASSERT_TRUE(server_->restart());
    // Reconnection pauses grow to 2 s at most.
    ASSERT_TRUE(waitUntil([&] { return monitor_->state().has_value(); }, 10s));
    Child caller({"parec", "--device=mic", "--raw", "--client-name=Test Caller"});
    EXPECT_TRUE(waitUntil([&] { return recordingOf(*monitor_, caller.pid()).has_value(); }, 10s));
}

TEST_F(SoundServerMonitorTest, AFrozenServerLeavesTheTickQuickAndDetectionUnavailable) {
    CapturePermissions::setBackend(platform::soundServerPermissions(monitor_));
    ScopedDataDir dataDir;
    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(text("parlo.ini")), QSettings::IniFormat);
    AppModelServices services;
    services.settings = &settings;
    services.rememberSession = false;
    services.probe = std::make_shared<CallActivityProbe>(platform::soundServerAudioSystem(monitor_));
    services.microphoneAuthorized = [] { return CapturePermissions::microphoneAuthorized(); };
    services.systemAudioPermission = [] { return CapturePermissions::systemAudioPermission(); };
    AppModel model(false, std::move(services));
    model.setAutoEnabled(true);
    ASSERT_TRUE(model.autoEnabled());
    runTask(model.tick());
    ASSERT_TRUE(model.callActivity().probeAvailable);

    // Each tick is timed on its own: it completes without suspending when nothing is recorded.
    auto slowestTick = 0ms;
    const auto timedTick = [&] {
        const auto begin = std::chrono::steady_clock::now();
        auto tick = model.tick();
        slowestTick = std::max(slowestTick, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - begin));
    };
    server_->freeze();
    const auto frozenAt = std::chrono::steady_clock::now();
    const bool unavailable = waitUntil(
        [&] {
            timedTick();
            return !model.callActivity().probeAvailable;
        },
        10s);
    const auto noticedAfter = std::chrono::steady_clock::now() - frozenAt;
    ASSERT_TRUE(unavailable);
    RecordProperty(
        "noticedAfterMs",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(noticedAfter).count()));
    RecordProperty("slowestTickMs", static_cast<int>(slowestTick.count()));
    // One ping interval, then the answer's deadline, and a tick on a busy machine.
    EXPECT_LT(noticedAfter, 3500ms);
    EXPECT_LT(slowestTick, 50ms);
    EXPECT_FALSE(model.microphonePermission());
    EXPECT_FALSE(model.audioPermission());

    server_->thaw();
    EXPECT_TRUE(waitUntil(
        [&] {
            timedTick();
            return model.callActivity().probeAvailable && model.microphonePermission();
        },
        10s));
    EXPECT_LT(slowestTick, 50ms);
}

} // namespace
} // namespace parlo
