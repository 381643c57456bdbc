#pragma once

#include "core/Uuid.h"
#include "model/MediaPlayer.h"

#include <QObject>
#include <qcoro/qcorotask.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace parlo {

class AudioPlayback;
struct LocalRecording;

// The one player of the application and the rule that feeds it: play(_:at:) loads a recording's
// audio when another one (or none) is loaded, seeks and plays for a time, and toggles otherwise.
// The model owns one, calls play from its operation and mirrors isPlaying, position and duration.
class PlaybackController : public QObject, public MediaPlayer {
    Q_OBJECT
public:
    // Fetches the service's audio of meeting `remoteID` into `destination` (ServerClient::audio).
    using Download = std::function<QCoro::Task<>(std::string remoteID, std::filesystem::path destination)>;

    explicit PlaybackController(Download download, QObject* parent = nullptr);
    ~PlaybackController() override;

    // Loads the recording unless it is the loaded one: its local media file, else the service's
    // audio downloaded once to "Playback/<remoteID>.wav" under the library root. With `at`, seeks
    // there (0 when negative) and plays; without, pauses when playing and plays when paused.
    // Throws ParloError "Звук пока не готов." when there is neither a file nor a service
    // identifier, and the download's or the player's error otherwise; a failed load leaves the
    // loaded player (paused, as any load first stops it) and its recording in place.
    QCoro::Task<> play(LocalRecording recording, std::optional<double> at) override;
    void pause() override;
    // Sets the loaded player's current time (the slider); nothing without a player.
    void seek(double seconds) override;

    bool isPlaying() const override;
    double position() const override;
    double duration() const override;
    std::optional<Uuid> playerItem() const { return item_; }
    // How many files have been loaded so far (each load replaces the player).
    int loads() const { return loads_; }

    // Where the service's audio of a meeting is kept for playback.
    static std::filesystem::path downloadedAudio(const std::string& remoteID);

private:
    Download download_;
    std::unique_ptr<AudioPlayback> player_;
    std::optional<Uuid> item_;
    int loads_ = 0;
};

} // namespace parlo
