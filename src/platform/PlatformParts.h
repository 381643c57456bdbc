#pragma once

// The real parts behind the interfaces that the layers above own. The application shell creates
// and wires them; integration tests do the same with the real sound server, FFmpeg and keyring.

#include "capture/AudioRecorder.h"

#include <memory>

namespace parlo {

class AudioCodec;
class AudioSystem;
class CaptureSource;
class PermissionBackend;
class SecretStore;

namespace platform {

// FFmpeg: libswresample for conversion, the native AAC encoder and MPEG-4 muxer for the mix.
std::shared_ptr<AudioCodec> ffmpegCodec();
// The sound server's capture of the default output's monitor and the default input.
std::unique_ptr<CaptureSource> soundServerCapture();
// Whether the sound server offers something to record, for CapturePermissions.
std::shared_ptr<PermissionBackend> soundServerPermissions();
// The sound server's clients and streams and the process table under /proc, for the probes.
std::shared_ptr<AudioSystem> soundServerAudioSystem();
// The desktop's secret store (Secret Service or KWallet).
std::shared_ptr<SecretStore> desktopSecretStore();
// Recorders capturing from the sound server, converted and encoded with FFmpeg.
AudioRecorderFactory soundServerRecorders();

} // namespace platform

} // namespace parlo
