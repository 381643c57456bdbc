#pragma once

#include "capture/CaptureResult.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace parlo {

class AudioCodec;

// Turns the raw tracks in a recording's folder into its "conversation.m4a": the mix, its checks and
// the warnings about a missing source. The same finalization serves the recorder's stop, the
// salvage of a capture that ended with the process, and the user's "Восстановить запись".
//
// Durability: the mix is written to a hidden temporary name created 0600 before its first byte,
// flushed to disk, renamed into place and its folder flushed; a mix that fails removes the partial
// file. The raw tracks are never touched here: their owner removes them (removeRawTracks) once the
// mixed file and the library entry that names it are both durable, so that a crash or a power cut
// at any moment leaves either the tracks or the finished file.
//
// Blocking (it encodes the whole recording): call it off the main thread.
namespace RecordingFinalizer {

inline constexpr const char* systemTrackName = "system.pcm";
inline constexpr const char* microphoneTrackName = "microphone.pcm";
inline constexpr const char* mixedFileName = "conversation.m4a";
inline constexpr const char* partialFileName = ".conversation.m4a.partial";

// Frames each track received; a stop knows them from its tracks, a salvage reads them from the
// files' lengths.
struct ReceivedFrames {
    std::int64_t system = 0;
    std::int64_t microphone = 0;
};

// Mixes <folder>/system.pcm and <folder>/microphone.pcm (a missing one counts as silence) into
// <folder>/conversation.m4a. Fails with ParloError ("Звук не поступил ни с компьютера, ни с
// микрофона. Исходные файлы сохранены для проверки.", "Запись короче двух секунд. Исходные дорожки
// сохранены.", "Не удалось сохранить звук.") or PlatformError from the mix, the encoder or the
// file system (with the system's error code where there is one); the raw tracks stay in every case.
CaptureResult finalize(const std::filesystem::path& folder, AudioCodec& codec,
                       std::optional<ReceivedFrames> received = std::nullopt);

// Creates the empty hidden partial file of <folder>'s mix (0600, replacing a leftover of an
// interrupted mix) and returns its path. Throws PlatformError.
std::filesystem::path createPartialFile(const std::filesystem::path& folder);

// finalize for a mix already being written into the partial file (the mix that runs while the call
// is recorded): `completeMix` mixes the rest, completes the file and returns its duration. Same
// checks, results and durability as finalize; on any failure the partial file is removed.
CaptureResult finalizeMixed(const std::filesystem::path& folder, AudioCodec& codec, ReceivedFrames received,
                            const std::function<double()>& completeMix);

// Whether either raw track is still in the folder.
bool hasRawTracks(const std::filesystem::path& folder);

// Removes both raw tracks and flushes the folder. Only once the mixed file and the library naming it
// are durable. Throws PlatformError; a track already gone is not a failure.
void removeRawTracks(const std::filesystem::path& folder);

} // namespace RecordingFinalizer

} // namespace parlo
