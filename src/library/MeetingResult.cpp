#include "library/MeetingResult.h"

#include "core/BoundedText.h"
#include "core/Json.h"

#include <algorithm>
#include <cstdint>

namespace parlo {

namespace {

// Records which required keys an object had; the document fails if one is missing.
class RequiredKeys {
public:
    explicit RequiredKeys(std::uint32_t expected) : expected_(expected) {}
    void saw(std::uint32_t bit) { seen_ |= bit; }
    void check(const JsonReader& reader) const {
        if ((seen_ & expected_) != expected_)
            reader.fail("a required key is missing");
    }

private:
    std::uint32_t expected_;
    std::uint32_t seen_ = 0;
};

// Decoding is written once for both building and validating: with Build false the values are only
// checked, which keeps loading a large library from allocating every transcript line.
template <bool Build> struct Decoder {
    JsonReader& in;

    void string(std::string* out) {
        if constexpr (Build)
            *out = in.readString();
        else
            in.skipString();
    }
    void optionalString(std::optional<std::string>* out) {
        if (in.readNull()) {
            if constexpr (Build)
                out->reset();
            return;
        }
        if constexpr (Build)
            *out = in.readString();
        else
            in.skipString();
    }
    void integer(std::int64_t* out) {
        std::int64_t value = in.readInteger();
        if constexpr (Build)
            *out = value;
    }
    // Seconds within the audio: offsets and lengths.
    void seconds(double* out) {
        double value = in.readDouble();
        if constexpr (Build)
            *out = boundedAudioSeconds(value);
    }
    template <typename T, typename ReadOne> void list(std::vector<T>* out, ReadOne readOne) {
        if constexpr (Build)
            out->clear();
        in.readArray([&] {
            if constexpr (Build) {
                out->emplace_back();
                readOne(&out->back());
            } else {
                readOne(static_cast<T*>(nullptr));
            }
        });
    }

    void noteItem(NoteItem* item) {
        RequiredKeys required(0b11);
        in.readObject([&](std::string_view key) {
            if (key == "text") {
                string(Build ? &item->text : nullptr);
                required.saw(0b01);
            } else if (key == "evidence_ids") {
                list(Build ? &item->evidenceIds : nullptr, [&](std::int64_t* id) { integer(id); });
                required.saw(0b10);
            } else if (key == "owner") {
                optionalString(Build ? &item->owner : nullptr);
            } else if (key == "due") {
                optionalString(Build ? &item->due : nullptr);
            } else {
                in.skipValue();
            }
        });
        required.check(in);
    }

    void summary(MeetingSummary* out) {
        RequiredKeys required(0b1111);
        auto notes = [&](std::vector<NoteItem>* list_) {
            list(list_, [&](NoteItem* item) { noteItem(item); });
        };
        in.readObject([&](std::string_view key) {
            if (key == "mode") {
                string(Build ? &out->mode : nullptr);
                required.saw(0b0001);
            } else if (key == "summary") {
                notes(Build ? &out->summary : nullptr);
                required.saw(0b0010);
            } else if (key == "decisions") {
                notes(Build ? &out->decisions : nullptr);
                required.saw(0b0100);
            } else if (key == "tasks") {
                notes(Build ? &out->tasks : nullptr);
                required.saw(0b1000);
            } else if (key == "note") {
                optionalString(Build ? &out->note : nullptr);
            } else {
                in.skipValue();
            }
        });
        required.check(in);
    }

    void segment(TranscriptSegment* out) {
        RequiredKeys required(0b11111);
        in.readObject([&](std::string_view key) {
            if (key == "id") {
                integer(Build ? &out->id : nullptr);
                required.saw(0b00001);
            } else if (key == "start") {
                seconds(Build ? &out->start : nullptr);
                required.saw(0b00010);
            } else if (key == "end") {
                seconds(Build ? &out->end : nullptr);
                required.saw(0b00100);
            } else if (key == "speaker") {
                string(Build ? &out->speaker : nullptr);
                required.saw(0b01000);
            } else if (key == "text") {
                string(Build ? &out->text : nullptr);
                required.saw(0b10000);
            } else {
                in.skipValue();
            }
        });
        required.check(in);
    }

    void result(MeetingResult* out) {
        RequiredKeys required(0b11111);
        in.readObject([&](std::string_view key) {
            if (key == "language") {
                string(Build ? &out->language : nullptr);
                required.saw(0b00001);
            } else if (key == "segments") {
                list(Build ? &out->segments : nullptr, [&](TranscriptSegment* s) { segment(s); });
                required.saw(0b00010);
            } else if (key == "summary") {
                summary(Build ? &out->summary : nullptr);
                required.saw(0b00100);
            } else if (key == "duration") {
                seconds(Build ? &out->duration : nullptr);
                required.saw(0b01000);
            } else if (key == "warnings") {
                list(Build ? &out->warnings : nullptr, [&](std::string* w) { string(w); });
                required.saw(0b10000);
            } else {
                in.skipValue();
            }
        });
        required.check(in);
    }
};

ServerMeeting readMeeting(JsonReader& in) {
    Decoder<true> decode{in};
    ServerMeeting meeting;
    RequiredKeys required(0b111111);
    in.readObject([&](std::string_view key) {
        if (key == "id") {
            decode.string(&meeting.id);
            required.saw(0b000001);
        } else if (key == "title") {
            meeting.title = boundedText(in.readString(), TextLimit::title);
            required.saw(0b000010);
        } else if (key == "created") {
            meeting.created = boundedTime(in.readDouble());
            required.saw(0b000100);
        } else if (key == "status") {
            meeting.status = boundedText(in.readString(), TextLimit::status);
            required.saw(0b001000);
        } else if (key == "stage") {
            meeting.stage = boundedText(in.readString(), TextLimit::stage);
            required.saw(0b010000);
        } else if (key == "progress") {
            decode.integer(&meeting.progress);
            required.saw(0b100000);
        } else if (key == "error") {
            decode.optionalString(&meeting.error);
            if (meeting.error)
                meeting.error = boundedText(std::move(*meeting.error), TextLimit::message);
        } else if (key == "client_id") {
            std::optional<std::string> text;
            decode.optionalString(&text);
            meeting.clientID = text ? Uuid::parse(*text) : std::nullopt;
        } else if (key == "result") {
            if (in.readNull()) {
                meeting.result.reset();
            } else {
                meeting.result.emplace();
                decode.result(&*meeting.result);
            }
        } else {
            in.skipValue();
        }
    });
    required.check(in);
    return meeting;
}

void writeNotes(JsonWriter& out, std::string_view key, const std::vector<NoteItem>& items) {
    out.key(key);
    out.beginArray();
    for (const NoteItem& item : items) {
        out.element();
        out.beginObject();
        out.key("text");
        out.string(item.text);
        out.key("evidence_ids");
        out.beginArray();
        for (std::int64_t id : item.evidenceIds) {
            out.element();
            out.integer(id);
        }
        out.endArray();
        if (item.owner) {
            out.key("owner");
            out.string(*item.owner);
        }
        if (item.due) {
            out.key("due");
            out.string(*item.due);
        }
        out.endObject();
    }
    out.endArray();
}

} // namespace

bool isMeetingID(std::string_view id) {
    return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) { return hexDigitValue(c) >= 0; });
}

double boundedTime(double seconds) {
    return std::clamp(seconds, -kTimeLimitSeconds, kTimeLimitSeconds);
}

double boundedAudioSeconds(double seconds) {
    return std::clamp(seconds, 0.0, kLongestAudioSeconds);
}

std::string NoteItem::identity() const {
    std::string id = text;
    for (std::size_t i = 0; i < evidenceIds.size(); ++i) {
        if (i > 0)
            id += ',';
        id += std::to_string(evidenceIds[i]);
    }
    return id;
}

MeetingResult decodeMeetingResult(JsonReader& reader) {
    MeetingResult result;
    Decoder<true>{reader}.result(&result);
    return result;
}

void validateMeetingResult(JsonReader& reader) {
    Decoder<false>{reader}.result(nullptr);
}

ServerMeeting decodeServerMeeting(std::string_view json) {
    JsonReader reader(json);
    reader.skipSpace();
    ServerMeeting meeting = readMeeting(reader);
    reader.finish();
    return meeting;
}

std::vector<ServerMeeting> decodeServerMeetingList(std::string_view json) {
    JsonReader reader(json);
    reader.skipSpace();
    std::vector<ServerMeeting> meetings;
    reader.readArray([&] { meetings.push_back(readMeeting(reader)); });
    reader.finish();
    return meetings;
}

void encodeMeetingResult(JsonWriter& out, const MeetingResult& result) {
    out.beginObject();
    out.key("language");
    out.string(result.language);
    out.key("segments");
    out.beginArray();
    for (const TranscriptSegment& segment : result.segments) {
        out.element();
        out.beginObject();
        out.key("id");
        out.integer(segment.id);
        out.key("start");
        out.number(segment.start);
        out.key("end");
        out.number(segment.end);
        out.key("speaker");
        out.string(segment.speaker);
        out.key("text");
        out.string(segment.text);
        out.endObject();
    }
    out.endArray();
    out.key("summary");
    out.beginObject();
    out.key("mode");
    out.string(result.summary.mode);
    writeNotes(out, "summary", result.summary.summary);
    writeNotes(out, "decisions", result.summary.decisions);
    writeNotes(out, "tasks", result.summary.tasks);
    if (result.summary.note) {
        out.key("note");
        out.string(*result.summary.note);
    }
    out.endObject();
    out.key("duration");
    out.number(result.duration);
    out.key("warnings");
    out.beginArray();
    for (const std::string& warning : result.warnings) {
        out.element();
        out.string(warning);
    }
    out.endArray();
    out.endObject();
}

std::string encodeMeetingResult(const MeetingResult& result) {
    std::string json;
    JsonWriter writer(json);
    encodeMeetingResult(writer, result);
    return json;
}

std::string encodeServerMeeting(const ServerMeeting& meeting) {
    std::string json;
    JsonWriter out(json);
    out.beginObject();
    out.key("id");
    out.string(meeting.id);
    out.key("title");
    out.string(meeting.title);
    out.key("created");
    out.number(meeting.created);
    out.key("status");
    out.string(meeting.status);
    out.key("stage");
    out.string(meeting.stage);
    out.key("progress");
    out.integer(meeting.progress);
    if (meeting.error) {
        out.key("error");
        out.string(*meeting.error);
    }
    if (meeting.clientID) {
        out.key("client_id");
        out.string(meeting.clientID->toString());
    }
    if (meeting.result) {
        out.key("result");
        encodeMeetingResult(out, *meeting.result);
    }
    out.endObject();
    return json;
}

} // namespace parlo
