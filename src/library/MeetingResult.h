#pragma once

#include "core/Uuid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlo {

class JsonReader;
class JsonWriter;

// One point, decision or task of a summary, with the transcript segments it rests on.
struct NoteItem {
    std::string text;
    std::vector<std::int64_t> evidenceIds; // "evidence_ids"
    std::optional<std::string> owner;
    std::optional<std::string> due; // as the service writes it, not parsed

    // The text followed by the references joined with ",": tells items apart in lists.
    std::string identity() const;
    friend bool operator==(const NoteItem&, const NoteItem&) = default;
};

struct MeetingSummary {
    std::string mode;
    std::vector<NoteItem> summary;
    std::vector<NoteItem> decisions;
    std::vector<NoteItem> tasks;
    std::optional<std::string> note;
    friend bool operator==(const MeetingSummary&, const MeetingSummary&) = default;
};

struct TranscriptSegment {
    std::int64_t id = 0; // also the segment's identity
    double start = 0;
    double end = 0;
    std::string speaker;
    std::string text;
    friend bool operator==(const TranscriptSegment&, const TranscriptSegment&) = default;
};

struct MeetingResult {
    std::string language;
    std::vector<TranscriptSegment> segments;
    MeetingSummary summary;
    double duration = 0;
    std::vector<std::string> warnings;
    friend bool operator==(const MeetingResult&, const MeetingResult&) = default;
};

// One meeting as the service reports it; `created` is in seconds since 1970.
struct ServerMeeting {
    std::string id;
    std::string title;
    double created = 0;
    std::string status;
    std::string stage;
    std::int64_t progress = 0;
    std::optional<std::string> error;
    std::optional<MeetingResult> result;
    // "client_id": the recording the meeting was uploaded from, when the service says so (a
    // synchronization that overlaps an upload finds the recording by it before the upload's answer).
    std::optional<Uuid> clientID;
    friend bool operator==(const ServerMeeting&, const ServerMeeting&) = default;
};

// Whether `id` is a meeting identifier of the service: exactly 32 hexadecimal digits, either case.
// Only such identifiers go into a request path or a file name.
bool isMeetingID(std::string_view id);

// Numbers are bounded where they are read, before anything converts them to integers: times to
// about 3,000 years either side of the epoch, lengths and positions in audio to [0, 11.5 days]
// (a 90 MiB upload at 8 kbit/s lasts 26 hours). Milliseconds of either fit any integer type.
inline constexpr double kTimeLimitSeconds = 1e11;
inline constexpr double kLongestAudioSeconds = 1e6;
double boundedTime(double seconds);
double boundedAudioSeconds(double seconds);

// Strict decoding: a missing required key, a null where a value is required or a value of the
// wrong type anywhere fails the whole document with JsonError. Unknown keys are ignored. Texts
// of a meeting are cut to the lengths of TextLimit; a "client_id" that is not a UUID is ignored.
MeetingResult decodeMeetingResult(JsonReader& reader);
// Checks the same rules without building the result (used when loading the library, where results
// are kept as their JSON text until somebody looks at them).
void validateMeetingResult(JsonReader& reader);
ServerMeeting decodeServerMeeting(std::string_view json);
std::vector<ServerMeeting> decodeServerMeetingList(std::string_view json);

// Compact encoding; empty optionals are left out.
void encodeMeetingResult(JsonWriter& writer, const MeetingResult& result);
std::string encodeMeetingResult(const MeetingResult& result);
std::string encodeServerMeeting(const ServerMeeting& meeting);

} // namespace parlo
