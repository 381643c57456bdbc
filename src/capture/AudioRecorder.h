#pragma once

#include "capture/CaptureResult.h"

#include <QString>
#include <qcoro/qcorotask.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>

namespace parlo {

// One recording's capture of the computer's sound and the microphone. The application model creates
// a fresh recorder for each recording (through an AudioRecorderFactory, so that its tests can hand
// in a fake), sets the two callbacks, awaits start() and later awaits stop().
//
// Threads: start() and stop() are called and resumed on the thread that awaits them (the Qt main
// thread in the application); their blocking work runs elsewhere. onLevel is called on the
// recorder's serial audio queue and onFailure on the sound server's thread: both must only post to
// the owner's thread (QMetaObject::invokeMethod with a context object) and touch nothing else.
class AudioRecorder {
public:
    // Latest levels, 0.0 to 1.0: system audio first, microphone second; at most about every 0.15 s.
    using LevelHandler = std::function<void(float system, float microphone)>;
    // The capture stopped by itself (sound server gone, device removed); the owner decides to stop().
    using FailureHandler = std::function<void(const QString& text)>;

    virtual ~AudioRecorder() = default;

    // A track could not be written (disk full, I/O error). Called on the audio queue when writing
    // starts to fail, and again only after a write has succeeded in between; the capture goes on
    // trying, so the audio resumes when space returns. Like onLevel, it must only post.
    using WriteFailureHandler = std::function<void(std::error_code error)>;

    // Set by the owner before start(); never changed afterwards.
    LevelHandler onLevel;
    FailureHandler onFailure;
    WriteFailureHandler onWriteFailure;

    // Creates `folder` (0700) and the two raw tracks, then starts capturing; returns once both
    // sources are connected. Fails with ParloError (missing permission, no sound server output) or
    // PlatformError; on failure no raw track is left behind that could pass for a recording.
    virtual QCoro::Task<> start(std::filesystem::path folder) = 0;

    // Stops capturing, closes the tracks and mixes them into <folder>/conversation.m4a (durably: see
    // RecordingFinalizer). The raw tracks stay in the folder in every case: the owner removes them
    // (RecordingFinalizer::removeRawTracks) only after it has durably saved the entry that names the
    // mixed file, so that a crash or a power cut in between loses nothing. Fails with ParloError
    // ("Запись не была начата.", the empty-capture and two-second texts, "Не удалось сохранить
    // звук.") or the platform's error. Tracks that could be written only in part (a full disk) are
    // mixed as they are, with a warning.
    virtual QCoro::Task<CaptureResult> stop() = 0;
};

using AudioRecorderFactory = std::function<std::unique_ptr<AudioRecorder>()>;

} // namespace parlo
