#pragma once

#include <optional>
#include <qcoro/qcorotask.h>

namespace parlo {

struct LocalRecording;

// The application's one audio player as the model sees it. The widgets' library implements it on
// the desktop's media framework; the model only calls it and mirrors its state.
class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;
    // Loads the recording unless it is the loaded one, then seeks to `at` and plays, or toggles
    // without `at`. Throws with the user's text when there is nothing to play.
    virtual QCoro::Task<> play(LocalRecording recording, std::optional<double> at) = 0;
    // Pauses the loaded recording; nothing when none plays.
    virtual void pause() = 0;
    virtual void seek(double seconds) = 0;
    virtual bool isPlaying() const = 0;
    virtual double position() const = 0;
    virtual double duration() const = 0;
};

} // namespace parlo
