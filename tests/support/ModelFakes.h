#pragma once

// Stand-ins for the model's collaborators: a clock the test moves, a probe that reports what the
// test says, and a recorder whose start and stop the test scripts (and can hold half-way).

#include "capture/AudioRecorder.h"
#include "core/Clock.h"
#include "core/ParloError.h"
#include "detection/CallActivitySnapshot.h"
#include "library/LocalRecording.h"
#include "model/AppModel.h"
#include "model/MediaPlayer.h"
#include "support/Gate.h"

#include <QDateTime>
#include <QSettings>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

namespace parlo::test {

class DrivenClock final : public Clock {
public:
    explicit DrivenClock(QDateTime start = QDateTime::currentDateTimeUtc()) : wall(std::move(start)) {}
    double uptimeValue = 1000;
    QDateTime wall;
    double uptime() const override { return uptimeValue; }
    QDateTime now() const override { return wall; }
    void advance(double seconds) {
        uptimeValue += seconds;
        wall = wall.addMSecs(static_cast<qint64>(seconds * 1000));
    }
};

class ScriptedProbe final : public CallProbe {
public:
    CallActivitySnapshot next = CallActivitySnapshot::idle();
    int calls = 0;
    CallActivitySnapshot snapshot() override {
        ++calls;
        return next;
    }
    void call(bool active) {
        next = CallActivitySnapshot::idle();
        next.active = active;
        if (active)
            next.applications = {"Chromium"};
    }
};

struct RecorderScript {
    std::optional<QString> startFailure;
    std::optional<QString> stopFailure;
    QStringList warnings;
    Gate startGate;
    Gate stopGate;
    int created = 0;
    int stops = 0;
    std::filesystem::path lastFolder;
    // Leaves two small raw tracks in the folder at start, as a real capture does.
    bool rawTracks = false;
    // The stop's file work, in place of the scripted result (the real finalizer, for instance).
    std::function<CaptureResult(const std::filesystem::path& folder)> finish;
    // The recorder alive now, so a test can call its handlers as the audio queue would.
    AudioRecorder* current = nullptr;
};

class FakeRecorder final : public AudioRecorder {
public:
    explicit FakeRecorder(RecorderScript& script) : script_(script) { script_.current = this; }
    ~FakeRecorder() override {
        if (script_.current == this)
            script_.current = nullptr;
    }
    QCoro::Task<> start(std::filesystem::path folder) override {
        script_.lastFolder = folder;
        co_await script_.startGate.pass();
        if (script_.startFailure)
            throw ParloError(*script_.startFailure);
        if (script_.rawTracks) {
            std::filesystem::create_directories(folder);
            for (const char* name : {"system.pcm", "microphone.pcm"})
                std::ofstream(folder / name, std::ios::binary) << std::string(64000, '\0');
        }
    }
    QCoro::Task<CaptureResult> stop() override {
        ++script_.stops;
        co_await script_.stopGate.pass();
        if (script_.stopFailure)
            throw ParloError(*script_.stopFailure);
        if (script_.finish)
            co_return script_.finish(script_.lastFolder);
        CaptureResult result;
        result.file = script_.lastFolder / "conversation.m4a";
        result.duration = 12.5;
        result.warnings = script_.warnings;
        co_return result;
    }

private:
    RecorderScript& script_;
};

// The player's state as the test sees it; each play() waits at `gate`.
struct PlayerScript {
    bool playing = false;
    int plays = 0;
    std::vector<std::optional<double>> requests; // the `at` of each play()
    Gate gate;
};

class FakePlayer final : public MediaPlayer {
public:
    explicit FakePlayer(PlayerScript& script) : script_(script) {}
    QCoro::Task<> play(LocalRecording, std::optional<double> at) override {
        ++script_.plays;
        script_.requests.push_back(at);
        co_await script_.gate.pass();
        script_.playing = at.has_value() || !script_.playing;
    }
    void pause() override { script_.playing = false; }
    void seek(double) override {}
    bool isPlaying() const override { return script_.playing; }
    double position() const override { return 0; }
    double duration() const override { return 60; }

private:
    PlayerScript& script_;
};

// The model's services over these fakes: the driven clock, the scripted probe and the recorders of
// `script`, no secret store. Permissions and the rest are the test's to add.
inline AppModelServices fakeServices(QSettings& settings, std::shared_ptr<DrivenClock> clock,
                                     std::shared_ptr<ScriptedProbe> probe, RecorderScript& script) {
    AppModelServices services;
    services.clock = std::move(clock);
    services.settings = &settings;
    services.rememberSession = false;
    services.probe = std::move(probe);
    services.recorderFactory = [&script] {
        ++script.created;
        return std::make_unique<FakeRecorder>(script);
    };
    return services;
}

// A finished entry of the library, as an import leaves it.
inline LocalRecording importedRecording(const std::string& title, double created,
                                        const char* status = "done") {
    LocalRecording r;
    r.id = Uuid::random();
    r.title = title;
    r.created = created;
    r.status = status;
    r.stage = "Готово";
    r.source = "Импорт";
    return r;
}

} // namespace parlo::test
