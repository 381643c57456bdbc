#pragma once

#include <QObject>
#include <qcoro/qcorotask.h>

#include <filesystem>

class QAudioOutput;
class QMediaPlayer;

namespace parlo {

// The one audio player of the application: plays a local file, seeks and reports its state, for
// the model's play(_:at:) and the tick that mirrors it into isPlaying, playbackPosition and
// playbackDuration. Times are seconds. Lives on the main thread.
class AudioPlayback : public QObject {
    Q_OBJECT
public:
    explicit AudioPlayback(QObject* parent = nullptr);
    ~AudioPlayback() override;

    // Loads `file` and prepares it for playing; resumes once the player knows the file. Throws
    // PlatformError with the player's description when the file is missing or cannot be played,
    // or when loading takes longer than a few seconds.
    QCoro::Task<> open(const std::filesystem::path& file);

    void play();
    void pause();
    // Sets the current time; a negative time (a bad segment) seeks to 0.
    void seek(double seconds);

    bool isPlaying() const;
    double position() const;
    double duration() const;

private:
    QMediaPlayer* player_;
    QAudioOutput* output_;
};

} // namespace parlo
