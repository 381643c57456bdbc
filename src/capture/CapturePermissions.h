#pragma once

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace parlo {

// What the platform can say about the two grants a recording needs. On Linux there is no prompt:
// the sound server either gives us a default output with a monitor and a default input, or not.
// The real backend asks PulseAudio (or PipeWire's pulse layer); tests install a scripted one.
class PermissionBackend {
public:
    virtual ~PermissionBackend() = default;

    // Reliable and cheap: the server answers and a default source that is not a monitor exists.
    virtual bool microphoneAuthorized() = 0;
    // Cheap, may be stale: the server answers and the default sink has a monitor source.
    virtual bool systemAudioPreflight() = 0;
    // Reliable and heavier: a short record from the default sink's monitor delivers data. Throws
    // PlatformError with the server's description, or ParloError(CaptureText::noSystemAudio) when
    // the server answers but offers no monitor to record.
    virtual QCoro::Task<> verifySystemAudio() = 0;
};

// The process-wide permission state (a namespace: there is nothing to instantiate). Everything that
// asks whether system audio is allowed uses systemAudioPermission(): the result of the last reliable
// test when one has run since the last request(), otherwise the cheap preflight answer.
// All functions belong to the main thread.
namespace CapturePermissions {

// Microphone access as the model mirrors it (reliable).
bool microphoneAuthorized();
// The cheap system-audio answer (may be stale).
bool systemAudioPreflight();
// The effective system-audio permission: verifiedScreenAccess() when tested, else the preflight.
bool systemAudioPermission();
// Outcome of the last reliable test; empty when untested since launch or since the last request().
std::optional<bool> verifiedScreenAccess();

// Asks for both grants. On Linux nothing can prompt: records that the user asked (settings key
// "requestedSystemAudioAccess" = true), forgets the last reliable test and re-checks both.
// Returns true only when both are granted. Never fails.
QCoro::Task<bool> request();

// The reliable test; remembers its outcome for the rest of the process (see PermissionBackend).
QCoro::Task<> verifyScreenAccess();

// The persistent flag telling the main window that a reliable test on activation is worth it.
bool requestedSystemAudioAccess();

// Opens the desktop's sound settings (pavucontrol or the desktop's panel); false if none started.
bool openSoundSettings();

// Installs the backend that answers (the sound server's in the application, scripted ones in
// tests); nullptr leaves none, so nothing is granted. Also forgets the remembered test result.
void setBackend(std::shared_ptr<PermissionBackend> backend);

} // namespace CapturePermissions

} // namespace parlo
