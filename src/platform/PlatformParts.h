#pragma once

// The real parts behind the interfaces that the layers above own. The application shell creates
// and wires them; integration tests do the same with the real sound server, FFmpeg and keyring.

#include "capture/AudioRecorder.h"

#include <chrono>
#include <memory>
#include <string>

namespace parlo {

class AudioCodec;
class AudioSystem;
class CaptureSource;
class PermissionBackend;
class SecretStore;

namespace platform {

class SoundServerMonitor;

// How long a one-shot caller waits for the sound server's first complete picture (the probe modes,
// the start of the application): a healthy local server gives it in a few milliseconds.
inline constexpr std::chrono::milliseconds soundServerSettleLimit{1000};

// FFmpeg: libswresample for conversion, the native AAC encoder and MPEG-4 muxer for the mix. It
// lives in a module of the program's own, loaded when audio is first coded, so that a program
// waiting for calls does not carry FFmpeg; a module that cannot be loaded makes every operation
// throw PlatformError saying why.
std::shared_ptr<AudioCodec> ffmpegCodec();
// The codec of the module at `module` (a path, or a name for the dynamic loader to find), loaded the
// same way.
std::shared_ptr<AudioCodec> codecModule(const std::string& module);
// The sound server's capture of the default output's monitor and the default input.
std::unique_ptr<CaptureSource> soundServerCapture();
// One long-lived connection to the sound server, kept current by its events; the application makes
// one and hands it to the two parts below, which then read only memory.
std::shared_ptr<SoundServerMonitor> soundServerMonitor();
// A monitor of its own after its first complete picture (at most soundServerSettleLimit).
std::shared_ptr<SoundServerMonitor> settledSoundServerMonitor();
// Whether the sound server offers something to record, for CapturePermissions; without a monitor,
// with one of its own.
std::shared_ptr<PermissionBackend> soundServerPermissions(std::shared_ptr<SoundServerMonitor> monitor);
std::shared_ptr<PermissionBackend> soundServerPermissions();
// The sound server's clients and streams and the process table under /proc, for the probes;
// without a monitor, with one of its own.
std::shared_ptr<AudioSystem> soundServerAudioSystem(std::shared_ptr<SoundServerMonitor> monitor);
std::shared_ptr<AudioSystem> soundServerAudioSystem();
// The desktop's secret store (Secret Service or KWallet).
std::shared_ptr<SecretStore> desktopSecretStore();
// Recorders capturing from the sound server, converted and encoded with FFmpeg.
AudioRecorderFactory soundServerRecorders();

} // namespace platform

} // namespace parlo
