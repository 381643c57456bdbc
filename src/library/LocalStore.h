#pragma once

#include "library/LocalRecording.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace parlo {

// The data folder: library.json, one folder per recording under Recordings, temporary upload bodies
// and downloaded playback audio. Stateless: every call resolves the folder anew.
namespace LocalStore {

// MELLO_PARLO_DATA_DIR when set and not empty (taken verbatim), otherwise $XDG_DATA_HOME/MelloParlo.
std::filesystem::path root();
std::filesystem::path libraryFile();
std::filesystem::path recordingsFolder();
// Where the service's audio of meeting `remoteID` is kept for playback: root/Playback/<remoteID>.wav.
std::filesystem::path playbackAudio(const std::string& remoteID);

// Creates root/Recordings (0700 for every folder it creates) and sets 0700 on root.
// Throws PlatformError.
void prepare();

// The library, repaired: "uploading" becomes "local", "recording" becomes "error" with the
// LibraryText::interruptedError text. A missing file gives an empty list. A damaged file gives the records
// decoded before the damage, after the file has been set aside beside the library (see setAsideName; its name
// goes to `damagedFileKeptAs`) so that the next save cannot destroy the rest; when it cannot be set aside,
// PlatformError. A file that is there but cannot be read (no permission, I/O error) throws PlatformError with
// the system's code: the caller must not save over it. Records that would lead outside their folder are
// dropped: they are written to "library.rejected-<UTC time>.json" (a JSON array of them, as they were) and
// the library without them is saved at once, so that they are kept aside once and never used.
std::vector<LocalRecording> load(std::string* damagedFileKeptAs = nullptr);

// An entry of a capture that ended with the process: "error", the LibraryText::interruptedError text, no
// file.
bool wasInterrupted(const LocalRecording& recording);

// Replaces library.json atomically (a reader sees the old or the new file whole) with mode 0600.
// Throws PlatformError; the old file is then untouched.
void save(const std::vector<LocalRecording>& items);

// root/Recordings/<folderName>/<fileName> when the record names both, each a plain name.
std::optional<std::filesystem::path> media(const LocalRecording& recording);

// The name an undecodable library is kept under: "library.unreadable-<UTC time>.json"; with
// `kind` "rejected", the name of the records dropped on loading.
std::string setAsideName(const char* kind = "unreadable");

} // namespace LocalStore

// The text shown by the recording clocks: "MM:SS", or "H:MM:SS" from one hour on.
std::string clockLabel(double seconds);

} // namespace parlo
