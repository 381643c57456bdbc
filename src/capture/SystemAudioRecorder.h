#pragma once

#include "capture/AudioCodec.h"
#include "capture/AudioRecorder.h"
#include "capture/BlockJoiner.h"
#include "capture/CaptureHandler.h"
#include "capture/CaptureSource.h"
#include "capture/IncrementalMixer.h"
#include "capture/RecordingFinalizer.h"
#include "capture/SerialAudioQueue.h"
#include "capture/StreamClock.h"
#include "capture/TimelineTrack.h"

#include <QObject>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace parlo {

// Captures one conversation: the computer's sound (without our own playback) and the microphone,
// each into a raw track on a common timeline, mixed into "conversation.m4a" while the call goes on
// (IncrementalMixer), so that the stop mixes only the last seconds; should that mix fail, the stop
// mixes the whole call from the tracks.
//
// Threads: start() and stop() are awaited on the Qt main thread. The capture service's thread only
// joins each source's buffers into blocks of 100 ms and posts the blocks to the recorder's one
// serial audio queue, which places them on the clock, converts them, writes them, computes the
// levels and calls onLevel and onWriteFailure; it also runs the file work of the stop, after every
// buffer delivered before the capture stopped. onFailure is called on the capture service's thread.
// One recorder serves one recording; its destructor waits for a stop in progress.
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
    void post(std::vector<CaptureBlock>&& blocks);         // from the capture service's thread or the stop's
    void deliver(CaptureBlock&& block);                    // on the audio queue
    void place(std::vector<StreamClock::Placed>&& placed); // on the audio queue
    CaptureResult finish();                                // on the audio queue
    CaptureResult finalize(const RecordingFinalizer::ReceivedFrames& received); // on the audio queue
    void discardStart(); // a start that failed after the tracks were made

    SourceFactory makeSource_;
    std::shared_ptr<AudioCodec> codec_;
    std::shared_ptr<CaptureSource> source_; // the running capture ("stream")
    std::optional<std::filesystem::path> folder_;
    bool createdFolder_ = false;
    // Touched on the audio queue only while a capture runs.
    std::unique_ptr<TimelineTrack> systemTrack_;
    std::unique_ptr<TimelineTrack> micTrack_;
    std::unique_ptr<IncrementalMixer> mixer_; // null when it could not start
    CaptureHandler handler_;
    std::array<StreamClock, 2> clocks_;
    // Used by the capture service's thread while it runs, then by the stop's thread.
    std::array<BlockJoiner, 2> joiners_;
    // Threads of stops in progress: each stops the service and queues the file work; joined by the
    // destructor, so that nothing is posted to a queue that is gone.
    std::vector<std::thread> stopThreads_;
    // Last, so that it is destroyed first: its thread finishes the posted jobs while the state
    // above still exists.
    SerialAudioQueue queue_;
};

} // namespace parlo
