#include "capture/CapturePermissions.h"
#include "core/ParloError.h"
#include "support/TestSupport.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

namespace parlo {
namespace {

// A scripted platform: each answer can be set, and the reliable test fails on demand.
class ScriptedBackend final : public PermissionBackend {
public:
    bool microphone = true;
    bool preflight = false;
    bool testPasses = true;
    int tests = 0;

    bool microphoneAuthorized() override { return microphone; }
    bool systemAudioPreflight() override { return preflight; }
    QCoro::Task<> verifySystemAudio() override {
        ++tests;
        if (!testPasses)
            throw ParloError("Система не вернула доступный дисплей для захвата звука.");
        co_return;
    }
};

class CapturePermissionsTest : public ::testing::Test {
protected:
    // request() writes a user setting: keep it out of the real configuration.
    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);
        CapturePermissions::setBackend(backend);
    }
    void TearDown() override {
        CapturePermissions::setBackend(nullptr);
        QStandardPaths::setTestModeEnabled(false);
    }

    std::shared_ptr<ScriptedBackend> backend = std::make_shared<ScriptedBackend>();
};

TEST_F(CapturePermissionsTest, UntestedSystemAudioFollowsThePreflight) {
    EXPECT_FALSE(CapturePermissions::verifiedScreenAccess().has_value());
    EXPECT_FALSE(CapturePermissions::systemAudioPermission());
    backend->preflight = true;
    EXPECT_TRUE(CapturePermissions::systemAudioPermission());
}

TEST_F(CapturePermissionsTest, FailedReliableTestOverridesAPositivePreflight) {
    backend->preflight = true;
    backend->testPasses = false;
    try {
        test::runTask(CapturePermissions::verifyScreenAccess());
        FAIL() << "the test should have failed";
    } catch (const ParloError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Система не вернула доступный дисплей для захвата звука."));
    }
    EXPECT_EQ(CapturePermissions::verifiedScreenAccess(), std::optional<bool>(false));
    EXPECT_FALSE(CapturePermissions::systemAudioPermission());
}

TEST_F(CapturePermissionsTest, PassedReliableTestOverridesANegativePreflightUntilTheNextRequest) {
    backend->preflight = false;
    test::runTask(CapturePermissions::verifyScreenAccess());
    EXPECT_EQ(CapturePermissions::verifiedScreenAccess(), std::optional<bool>(true));
    EXPECT_TRUE(CapturePermissions::systemAudioPermission());

    // A request forgets the remembered outcome: the preflight answers again.
    EXPECT_FALSE(test::runTask(CapturePermissions::request()));
    EXPECT_FALSE(CapturePermissions::verifiedScreenAccess().has_value());
    EXPECT_FALSE(CapturePermissions::systemAudioPermission());
    EXPECT_TRUE(CapturePermissions::requestedSystemAudioAccess());
}

TEST_F(CapturePermissionsTest, RequestIsTrueOnlyWithBothGrants) {
    backend->preflight = true;
    backend->microphone = false;
    EXPECT_FALSE(test::runTask(CapturePermissions::request()));
    backend->microphone = true;
    EXPECT_TRUE(test::runTask(CapturePermissions::request()));
    EXPECT_EQ(backend->tests, 0); // requesting never runs the heavy test
}

} // namespace
} // namespace parlo
