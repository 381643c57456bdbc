#pragma once

#include "core/Clock.h"
#include "core/Uuid.h"
#include "library/MeetingResult.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace parlo {

// A service result kept with its recording. Results are large and change rarely, so the record
// holds the result's JSON text (written back to the library file as it is) and decodes it only when
// somebody reads it. A result loaded from the library file stays a range of the mapped file and
// costs no memory until it is read. Shared and immutable: copying a record copies a pointer.
class StoredResult {
public:
    explicit StoredResult(MeetingResult result);
    // Takes JSON text that has already passed validateMeetingResult.
    static std::shared_ptr<const StoredResult> fromValidatedJson(std::string json);
    // As fromValidatedJson, for a range of a read-only file mapping that `owner` keeps valid.
    static std::shared_ptr<const StoredResult> fromValidatedRange(std::shared_ptr<const void> owner,
                                                                  std::string_view json);

    const MeetingResult& value() const;
    std::string_view json() const { return json_; }
    // For a result that lies in a mapped file: lets go of the pages wholly inside it, which reading
    // the text has made resident (they are read in again from the page cache when needed). Nothing
    // for a result held in memory.
    void releasePages() const;

private:
    StoredResult() = default;
    std::string text_;
    std::shared_ptr<const void> owner_;
    std::string_view json_;
    mutable std::once_flag decodeOnce_;
    mutable std::optional<MeetingResult> value_;
};

using ResultPointer = std::shared_ptr<const StoredResult>;

// One recording of the library, captured or imported, or known only from the service.
struct LocalRecording {
    Uuid id;
    std::string title;
    LibraryTime created = 0;
    std::optional<std::string> folderName;
    std::optional<std::string> fileName;
    std::string status;
    std::optional<std::string> remoteID;
    std::string stage;
    std::int64_t progress = 0;
    std::optional<double> duration;
    std::optional<std::string> error;
    ResultPointer result;
    std::string source;

    // The Russian label of the status; the stage text for statuses the application has no name for.
    std::string statusLabel() const;

    friend bool operator==(const LocalRecording& a, const LocalRecording& b);
};

namespace RecordingStatus {
inline constexpr const char* recording = "recording";
inline constexpr const char* local = "local";
inline constexpr const char* waitingLogin = "waiting_login";
inline constexpr const char* queued = "queued";
inline constexpr const char* uploading = "uploading";
inline constexpr const char* processing = "processing";
inline constexpr const char* done = "done";
inline constexpr const char* error = "error";
} // namespace RecordingStatus

// Whether `name` can stand as one component of a path inside the data folder: not empty, not "."
// or "..", no "/" and no NUL, at most 255 bytes. Folder and file names read from the library file
// must be such a component before anything joins them to a path.
bool isPlainFileName(std::string_view name);

// Where the text of a library lives when its results are to stay there rather than be copied: each
// result becomes a range of the text, a read-only file mapping kept valid by `owner`; `passed`, when set, is
// told after each record how far reading has come (the text before it is not read again at loading).
struct LibraryBacking {
    std::shared_ptr<const void> owner;
    std::function<void(std::size_t)> passed;
};

// The library file's form: a compact JSON array of records. Decoding is strict (a malformed record
// fails the whole file with JsonError); encoding leaves absent optionals out. A well-formed record
// that would lead outside its folder (a `folderName` or `fileName` that is not a plain component,
// a `remoteID` that is not a meeting identifier) is left out of the list; its JSON text is added to
// `rejected` when given, so that it can be kept aside.
std::vector<LocalRecording> decodeLibrary(std::string_view json,
                                          std::vector<std::string>* rejected = nullptr);
// As decodeLibrary, but a malformed file does not throw: `items` keeps the records decoded before
// the damage, and the result says whether there was any.
bool decodeLibraryUntilDamage(std::string_view json, std::vector<LocalRecording>& items,
                              std::vector<std::string>* rejected = nullptr,
                              const LibraryBacking* backing = nullptr);
std::string encodeLibrary(const std::vector<LocalRecording>& items);
// Encodes one record at the end of `out` (the library is written record by record).
void encodeRecording(std::string& out, const LocalRecording& recording);

} // namespace parlo
