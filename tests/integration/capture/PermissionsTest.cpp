// CapturePermissions on a real sound server: what counts as a microphone and as system audio, and
// the reliable test recording from the output's monitor.
#include "capture/CapturePermissions.h"
#include "core/ParloError.h"
#include "support/TestSoundServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace parlo {
namespace {

using namespace parlo::test;

TEST(CapturePermissionsOnTheServer, DefaultDevicesGrantBothAndTheMonitorRecords) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    EXPECT_TRUE(CapturePermissions::microphoneAuthorized());
    EXPECT_TRUE(CapturePermissions::systemAudioPreflight());
    runTask(CapturePermissions::verifyScreenAccess());
    EXPECT_EQ(CapturePermissions::verifiedScreenAccess(), std::optional<bool>(true));
    EXPECT_TRUE(CapturePermissions::systemAudioPermission());
}

TEST(CapturePermissionsOnTheServer, AMonitorAsDefaultInputIsNoMicrophone) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    ASSERT_TRUE(server.pactl({text("set-default-source"), text("speakers.monitor")}).has_value());
    CapturePermissions::setBackend(
        platform::soundServerPermissions()); // forget the answer cached a moment ago
    EXPECT_FALSE(CapturePermissions::microphoneAuthorized());
    EXPECT_TRUE(CapturePermissions::systemAudioPreflight());
}

TEST(CapturePermissionsOnTheServer, NoServerGrantsNothingAndTheReliableTestFails) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready());
    server.kill();
    CapturePermissions::setBackend(platform::soundServerPermissions());
    EXPECT_FALSE(CapturePermissions::microphoneAuthorized());
    EXPECT_FALSE(CapturePermissions::systemAudioPreflight());
    EXPECT_THROW(runTask(CapturePermissions::verifyScreenAccess()), PlatformError);
    EXPECT_EQ(CapturePermissions::verifiedScreenAccess(), std::optional<bool>(false));
    EXPECT_FALSE(CapturePermissions::systemAudioPermission());
}

} // namespace
} // namespace parlo
