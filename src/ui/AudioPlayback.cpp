#include "ui/AudioPlayback.h"

#include "core/ParloError.h"
#include "library/MeetingResult.h"
#include "ui/UiTexts.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QPointer>
#include <QUrl>
#include <qcoro/qcorosignal.h>

#include <cmath>

namespace parlo {

namespace {

constexpr auto kLoadTimeout = std::chrono::seconds(5);

// The FFmpeg media backend of Qt 6.4 crashes; GStreamer plays everything we write. Chosen before
// the first player exists, unless the environment already names a backend.
void chooseBackend() {
    static const bool chosen = [] {
        if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
            qputenv("QT_MEDIA_BACKEND", "gstreamer");
        return true;
    }();
    (void)chosen;
}

} // namespace

AudioPlayback::AudioPlayback(QObject* parent) : QObject(parent) {
    chooseBackend();
    player_ = new QMediaPlayer(this);
    // Without an audio output GStreamer reports every file invalid; with no sound card it plays into
    // a fake sink, which keeps time all the same.
    output_ = new QAudioOutput(this);
    player_->setAudioOutput(output_);
}

AudioPlayback::~AudioPlayback() = default;

QCoro::Task<> AudioPlayback::open(const std::filesystem::path& file) {
    const QString path = QString::fromStdString(file.string());
    if (!QFileInfo::exists(path))
        throw PlatformError(QString::fromUtf8(UiText::audioFileMissing).arg(path));
    QPointer<AudioPlayback> self(this);
    player_->stop();
    player_->setSource(QUrl::fromLocalFile(path));
    for (;;) {
        switch (player_->mediaStatus()) {
        case QMediaPlayer::LoadedMedia:
        case QMediaPlayer::BufferedMedia:
        case QMediaPlayer::BufferingMedia:
        case QMediaPlayer::EndOfMedia:
            co_return;
        case QMediaPlayer::InvalidMedia: {
            const QString reason = player_->errorString();
            throw PlatformError(reason.isEmpty() ? QString::fromUtf8(UiText::audioNotOpened) : reason);
        }
        case QMediaPlayer::NoMedia:
        case QMediaPlayer::LoadingMedia:
        case QMediaPlayer::StalledMedia:
            break;
        }
        const auto changed = co_await qCoro(player_, &QMediaPlayer::mediaStatusChanged, kLoadTimeout);
        if (!self)
            co_return;
        if (!changed)
            throw PlatformError(QString::fromUtf8(UiText::audioLoadTimedOut));
    }
}

void AudioPlayback::play() {
    player_->play();
}

void AudioPlayback::pause() {
    player_->pause();
}

void AudioPlayback::seek(double seconds) {
    // Times come from the service; only a bounded, finite value may become milliseconds.
    const double bounded = std::isfinite(seconds) ? boundedAudioSeconds(seconds) : 0.0;
    player_->setPosition(static_cast<qint64>(bounded * 1000.0));
}

bool AudioPlayback::isPlaying() const {
    return player_->playbackState() == QMediaPlayer::PlayingState;
}

double AudioPlayback::position() const {
    return static_cast<double>(player_->position()) / 1000.0;
}

double AudioPlayback::duration() const {
    return static_cast<double>(player_->duration()) / 1000.0;
}

} // namespace parlo
