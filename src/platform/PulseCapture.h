#pragma once

#include "capture/CaptureSource.h"

#include <memory>

namespace parlo {

// Captures the computer's sound and the microphone from the sound server (PulseAudio or PipeWire's
// pulse layer) with two record streams on one threaded main loop: the default sink's monitor and
// the default source, float32, 48 kHz, stereo. It follows a change of the default output or input
// while recording. It changes nothing of other streams: a monitor records all that reaches the
// output, our own player included, which is why the model pauses the player while recording (a
// mute would be remembered by the server for our later streams). Every connection carries
// application.id "com.fernwick.parlo".
class PulseCapture final : public CaptureSource {
public:
    PulseCapture();
    ~PulseCapture() override;

    void prepare() override;
    void start(ChunkHandler onChunk, StopHandler onStopped) override;
    void stop() override;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace parlo
