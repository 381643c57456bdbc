#pragma once

#include "capture/CapturePermissions.h"
#include "detection/CallActivitySnapshot.h"
#include "model/AppModel.h"
#include "support/Gate.h"
#include "support/LoopbackService.h"
#include "support/ModelFakes.h"
#include "support/TestSupport.h"

#include <QList>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace parlo::test {

// The sound server's answers as a test sets them; the reliable test can be held open by a gate.
class ScriptedPermissions final : public PermissionBackend {
public:
    bool microphone = false;
    bool system = false;
    int verifications = 0;
    Gate gate;

    bool microphoneAuthorized() override { return microphone; }
    bool systemAudioPreflight() override { return system; }
    QCoro::Task<> verifySystemAudio() override {
        ++verifications;
        co_await gate.pass();
        if (!system)
            throw std::runtime_error("no monitor");
    }
};

// Receives the URLs the application opens in the browser (QDesktopServices::setUrlHandler).
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls.append(url); }
};

// A real model over a temporary data folder, reading its permissions through CapturePermissions
// with a scripted backend, recording with the fake recorders, talking to a loopback service only.
class ShellTest : public ::testing::Test {
protected:
    ScopedDataDir dataDir;
    // The autostart entry goes to a folder of the test's own.
    ScopedDataDir configDir{"XDG_CONFIG_HOME"};
    QTemporaryDir settingsDir;
    QSettings settings{settingsDir.filePath(QStringLiteral("parlo.ini")), QSettings::IniFormat};
    std::shared_ptr<ScriptedPermissions> permissions = std::make_shared<ScriptedPermissions>();
    std::shared_ptr<DrivenClock> clock = std::make_shared<DrivenClock>();
    std::shared_ptr<ScriptedProbe> probe = std::make_shared<ScriptedProbe>();
    RecorderScript script;   // its start and stop gates hold the recorder half-way
    int audioFilesAsked = 0; // "Добавить запись" asked for a file (and was cancelled)
    std::unique_ptr<LoopbackService> service;

    void SetUp() override {
        // request() writes a user setting: keep it out of the real configuration.
        QStandardPaths::setTestModeEnabled(true);
        CapturePermissions::setBackend(permissions);
    }
    void TearDown() override {
        script.startGate.open();
        script.stopGate.open();
        CapturePermissions::setBackend(nullptr);
        QStandardPaths::setTestModeEnabled(false);
    }

    void grant(bool on) {
        permissions->microphone = on;
        permissions->system = on;
    }

    std::unique_ptr<AppModel> makeModel(bool withService = false) {
        // No secret store in tests, and no service but the loopback one.
        AppModelServices services = fakeServices(settings, clock, probe, script);
        if (withService) {
            service = std::make_unique<LoopbackService>();
            services.server = service->clientOptions();
        } else {
            // Nothing listens there: a request that escaped would fail at once instead of reaching a
            // service someone runs on this machine.
            ServerClientOptions nowhere;
            nowhere.base = QUrl(QStringLiteral("https://127.0.0.1:9"));
            services.server = nowhere;
        }
        services.chooseAudioFile = [this]() -> std::optional<QString> {
            ++audioFilesAsked;
            return std::nullopt;
        };
        services.microphoneAuthorized = [] { return CapturePermissions::microphoneAuthorized(); };
        services.systemAudioPermission = [] { return CapturePermissions::systemAudioPermission(); };
        services.verifySystemAudio = [] { return CapturePermissions::verifyScreenAccess(); };
        services.requestPermissions = [] { return CapturePermissions::request(); };
        auto model = std::make_unique<AppModel>(false, std::move(services));
        spin(std::chrono::milliseconds(20)); // the start-up session check (no session: no request)
        return model;
    }

    // Ticks until the model has started an automatic recording for the probe's call.
    void tickIntoAutomaticRecording(AppModel& model) {
        probe->call(true);
        for (int i = 0; i < 4 && !model.recordingID(); ++i) {
            runTask(model.tick());
            clock->advance(0.8);
        }
        ASSERT_TRUE(model.recordingID().has_value());
    }
};

} // namespace parlo::test
