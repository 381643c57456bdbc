#pragma once

// The model with driven clocks, a scripted probe and fake recorders, as the model's unit tests share it.

#include "model/AppModel.h"
#include "support/ModelFakes.h"
#include "support/TestSupport.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace parlo::test {

inline QDateTime marchEighth() {
    return QDateTime(QDate(2026, 3, 8), QTime(9, 5), Qt::LocalTime).toUTC();
}

class AppModelTest : public ::testing::Test {
protected:
    test::ScopedDataDir dataDir;
    QTemporaryDir settingsDir;
    QSettings settings{settingsDir.filePath(QStringLiteral("parlo.ini")), QSettings::IniFormat};
    std::shared_ptr<test::DrivenClock> clock = std::make_shared<test::DrivenClock>(marchEighth());
    std::shared_ptr<test::ScriptedProbe> probe = std::make_shared<test::ScriptedProbe>();
    test::RecorderScript script;
    test::PlayerScript player;
    bool microphone = true;
    bool systemAudio = true;
    // The model's own finalizations (salvage, "Восстановить запись") encode only with a codec.
    std::shared_ptr<AudioCodec> codec;
    int permissionRequests = 0;

    std::unique_ptr<AppModel> makeModel(bool preview = false) {
        AppModelServices services = fakeServices(settings, clock, probe, script);
        services.microphoneAuthorized = [this] { return microphone; };
        services.systemAudioPermission = [this] { return systemAudio; };
        services.requestPermissions = [this]() -> QCoro::Task<bool> {
            ++permissionRequests;
            co_return microphone&& systemAudio;
        };
        services.codec = codec;
        services.makePlayer = [this](ServerClient&) { return std::make_unique<test::FakePlayer>(player); };
        return std::make_unique<AppModel>(preview, std::move(services));
    }

    // One timer period: the clocks move on, then the tick runs to its end.
    void tickAfter(AppModel& model, double seconds = 0.8) {
        clock->advance(seconds);
        test::runTask(model.tick());
    }

    LocalRecording record(const std::string& title, double created) {
        return importedRecording(title, created);
    }
};

} // namespace parlo::test
