#pragma once

#include <functional>
#include <optional>

class QString;

namespace parlo {

class Uuid;
struct LocalRecording;

// The model operations the window starts beyond those AppModel already offers. Each is started
// and not awaited (the caller wraps the model's coroutine). A control whose operation is not given
// is shown disabled rather than doing nothing when pressed.
struct WindowActions {
    std::function<void()> importAudio;                         // "Добавить запись"
    std::function<void(const Uuid& id)> loadDetail;            // on every selection change
    std::function<void(bool verifySystem)> refreshPermissions; // on activation
    // Whether that refresh should run the reliable system-audio test: the user asked for access
    // before ("requestedSystemAudioAccess"), or the cheap preflight already says granted.
    std::function<bool()> verifySystemOnActivation;
    std::function<void(const LocalRecording&, std::optional<double> at)> play; // player and time buttons
    std::function<void(double seconds)> seek;                                  // the player's slider
    std::function<void(const Uuid& id)> retry; // "Повторить отправку"
    std::function<void(const LocalRecording&, const QString& format)> exportResult; // "Экспорт MD" ...
};

} // namespace parlo
