#pragma once

#include "library/LocalStore.h"
#include "model/AppModel.h"
#include "support/LoopbackService.h"
#include "support/ModelFakes.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>

namespace parlo::test {

// The model against the loopback service, with a driven clock and its own data folder.
class ModelServiceFixture : public ::testing::Test {
protected:
    ScopedDataDir dataDir;
    QTemporaryDir settingsDir;
    QSettings settings{settingsDir.filePath(QStringLiteral("parlo.ini")), QSettings::IniFormat};
    std::shared_ptr<DrivenClock> clock = std::make_shared<DrivenClock>();
    LoopbackService loopback;

    // A finished capture on disk and in the library, waiting for a session.
    LocalRecording capture(const std::string& title, double created, bool withFile = true) {
        LocalRecording r;
        r.id = Uuid::random();
        r.title = title;
        r.created = created;
        r.folderName = r.id.toString();
        r.status = RecordingStatus::waitingLogin;
        r.stage = "Войдите для расшифровки";
        r.source = "Звук Mac + микрофон";
        if (withFile) {
            r.fileName = "conversation.m4a";
            const auto folder = LocalStore::recordingsFolder() / *r.folderName;
            std::filesystem::create_directories(folder);
            std::ofstream(folder / "conversation.m4a") << std::string(4096, 'a');
        }
        return r;
    }

    std::unique_ptr<AppModel> makeModel() {
        AppModelServices services;
        services.clock = clock;
        services.settings = &settings;
        services.rememberSession = false;
        services.server = loopback.clientOptions();
        services.microphoneAuthorized = [] { return true; };
        services.systemAudioPermission = [] { return true; };
        auto model = std::make_unique<AppModel>(false, std::move(services));
        test::spin(std::chrono::milliseconds(20)); // the start-up session check (no session: no request)
        return model;
    }

    void logIn(AppModel& model) {
        model.setPassword(QStringLiteral("  parlo-dev-key \n"));
        test::runTask(model.login());
        ASSERT_TRUE(model.connected()) << model.message().value_or(QString()).toStdString();
    }

    const LocalRecording& byTitle(const AppModel& model, const std::string& title) {
        for (const auto& item : model.items())
            if (item.title == title)
                return item;
        throw std::runtime_error("no recording titled " + title);
    }

    int postsToMeetings() const {
        int count = 0;
        for (const auto& request : loopback.service.requests())
            if (request.method == "POST" && request.path == QStringLiteral("/api/meetings"))
                ++count;
        return count;
    }
    int detailRequests() const {
        int count = 0;
        for (const auto& request : loopback.service.requests())
            if (request.method == "GET" && request.path.startsWith(QStringLiteral("/api/meetings/")))
                ++count;
        return count;
    }
};

} // namespace parlo::test
