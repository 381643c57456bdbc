#pragma once

#include "capture/AudioCodec.h"
#include "capture/AudioRecorder.h"
#include "capture/CaptureHandler.h"
#include "capture/CaptureSource.h"
#include "capture/SerialAudioQueue.h"
#include "capture/StreamClock.h"
#include "capture/TimelineTrack.h"

#include <QObject>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace parlo {

// Captures one conversation: the computer's sound (without our own playback) and the microphone,
// each into a raw track on a common timeline, mixed at stop into "conversation.m4a".
//
// Threads: start() and stop() are awaited on the Qt main thread. The capture service's thread only
// copies each buffer and posts it to the recorder's one serial audio queue, which places it on the
// clock, converts it, writes it, computes the levels and calls onLevel; it also runs the file work of
// the stop, after every buffer delivered before the capture stopped. onFailure is called on the
// capture service's thread. One recorder serves one recording.
class SystemAudioRecorder final : public AudioRecorder {
public:
    using SourceFactory = std::function<std::unique_ptr<CaptureSource>()>;

    // `makeSource` gives the sound server's capture in the application; tests hand in sources that
    // deliver nothing or fail. `codec` converts and encodes.
    SystemAudioRecorder(SourceFactory makeSource, std::shared_ptr<AudioCodec> codec);
    ~SystemAudioRecorder() override;

    QCoro::Task<> start(std::filesystem::path folder) override;
    QCoro::Task<CaptureResult> stop() override;

private:
    void deliver(CapturedChunk&& chunk); // on the audio queue
    CaptureResult finish();              // on the audio queue
    void discardStart();                 // a start that failed after the tracks were made

    SourceFactory makeSource_;
    std::shared_ptr<AudioCodec> codec_;
    std::shared_ptr<CaptureSource> source_; // the running capture ("stream")
    std::optional<std::filesystem::path> folder_;
    bool createdFolder_ = false;
    // Touched on the audio queue only while a capture runs.
    std::unique_ptr<TimelineTrack> systemTrack_;
    std::unique_ptr<TimelineTrack> micTrack_;
    CaptureHandler handler_;
    std::array<StreamClock, 2> clocks_;
    // Last, so that it is destroyed first: its thread finishes the posted jobs while the state
    // above still exists.
    SerialAudioQueue queue_;
};

} // namespace parlo
