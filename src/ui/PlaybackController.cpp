#include "ui/PlaybackController.h"

#include "core/ParloError.h"
#include "library/LocalRecording.h"
#include "library/LocalStore.h"
#include "model/ModelTexts.h"
#include "server/ServerTexts.h"
#include "ui/AudioPlayback.h"

#include <QPointer>

#include <system_error>

namespace parlo {

PlaybackController::PlaybackController(Download download, QObject* parent)
    : QObject(parent)
    , download_(std::move(download)) {}

PlaybackController::~PlaybackController() = default;

std::filesystem::path PlaybackController::downloadedAudio(const std::string& remoteID) {
    return LocalStore::playbackAudio(remoteID);
}

QCoro::Task<> PlaybackController::play(LocalRecording recording, std::optional<double> at) {
    QPointer<PlaybackController> self(this);
    if (!player_ || item_ != recording.id) {
        if (player_)
            player_->pause();
        std::filesystem::path file;
        std::error_code error;
        const std::optional<std::filesystem::path> media = LocalStore::media(recording);
        if (media && std::filesystem::exists(*media, error)) {
            file = *media;
        } else if (recording.remoteID) {
            // The id becomes a file name: nothing is built from one that is not a meeting id.
            if (!isMeetingID(*recording.remoteID))
                throw ParloError(ServerText::badID);
            file = downloadedAudio(*recording.remoteID);
            if (!std::filesystem::exists(file, error)) {
                if (!download_)
                    throw ParloError(ModelText::audioNotReady);
                // The download makes the folders (0700) once the audio is whole.
                co_await download_(*recording.remoteID, file);
                if (!self)
                    co_return;
            }
        } else {
            throw ParloError(ModelText::audioNotReady);
        }
        auto next = std::make_unique<AudioPlayback>();
        co_await next->open(file);
        if (!self)
            co_return;
        player_ = std::move(next);
        item_ = recording.id;
        ++loads_;
    }
    if (at) {
        player_->seek(*at);
        player_->play();
    } else if (player_->isPlaying()) {
        player_->pause();
    } else {
        player_->play();
    }
}

void PlaybackController::pause() {
    if (player_)
        player_->pause();
}

void PlaybackController::seek(double seconds) {
    if (player_)
        player_->seek(seconds);
}

bool PlaybackController::isPlaying() const {
    return player_ && player_->isPlaying();
}

double PlaybackController::position() const {
    return player_ ? player_->position() : 0;
}

double PlaybackController::duration() const {
    return player_ ? player_->duration() : 0;
}

} // namespace parlo
