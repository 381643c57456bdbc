#pragma once

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
    friend bool operator==(const ServerMeeting&, const ServerMeeting&) = default;
};

// Strict decoding: a missing required key, a null where a value is required or a value of the
// wrong type anywhere fails the whole document with JsonError. Unknown keys are ignored.
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
