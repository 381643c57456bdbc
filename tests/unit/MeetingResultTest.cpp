#include "library/MeetingResult.h"
#include "core/BoundedText.h"
#include "core/Json.h"

#include <gtest/gtest.h>

using namespace parlo;

namespace {

const char* const kMeeting = R"({
  "id": "0123456789abcdef0123456789abcdef", "title": "Планёрка", "created": 1700000000.5,
  "status": "done", "stage": "Готово", "progress": 100, "error": null, "extra": {"ignored": [1, 2]},
  "result": {
    "language": "ru", "duration": 95.5, "warnings": ["тихо"],
    "segments": [{"id": 1, "start": 0, "end": 2.5, "speaker": "A", "text": "Привет\n\"всем\" \ud83d\ude00"}],
    "summary": {"mode": "meeting", "note": null,
      "summary": [{"text": "Итог", "evidence_ids": [1, 3]}],
      "decisions": [],
      "tasks": [{"text": "Сделать", "evidence_ids": [], "owner": "Анна", "due": "пятница"}]}
  }
})";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

} // namespace

TEST(MeetingResult, DecodesAFullMeetingAndIgnoresUnknownKeys) {
    ServerMeeting meeting = decodeServerMeeting(kMeeting);
    EXPECT_EQ(meeting.id, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(meeting.progress, 100);
    EXPECT_FALSE(meeting.error);
    ASSERT_TRUE(meeting.result);
    const MeetingResult& result = *meeting.result;
    EXPECT_DOUBLE_EQ(result.duration, 95.5);
    ASSERT_EQ(result.segments.size(), 1u);
    EXPECT_DOUBLE_EQ(result.segments[0].start, 0.0); // an integer decodes as a double
    EXPECT_EQ(result.segments[0].text, "Привет\n\"всем\" \xF0\x9F\x98\x80");
    EXPECT_FALSE(result.summary.note);
    EXPECT_EQ(result.summary.tasks[0].owner, std::optional<std::string>("Анна"));
}

TEST(MeetingResult, MissingNullOrMistypedRequiredValuesFailTheDocument) {
    const std::string base = kMeeting;
    // Optional keys may be absent or null.
    EXPECT_FALSE(decodeServerMeeting(replaced(base, "\"error\": null, ", "")).error);
    EXPECT_NO_THROW(decodeServerMeeting(replaced(base, "\"note\": null,", "")));
    EXPECT_FALSE(
        decodeServerMeeting(replaced(base, "\"result\": {", "\"result\": null, \"unused\": {")).result);

    EXPECT_THROW(decodeServerMeeting(replaced(base, "\"stage\": \"Готово\", ", "")), JsonError);
    EXPECT_THROW(decodeServerMeeting(replaced(base, "\"stage\": \"Готово\"", "\"stage\": null")), JsonError);
    EXPECT_THROW(decodeServerMeeting(replaced(base, "\"tasks\": [", "\"chores\": [")), JsonError);
    EXPECT_THROW(decodeServerMeeting(replaced(base, "\"id\": 1,", "\"id\": 3.5,")), JsonError);
    EXPECT_THROW(decodeServerMeeting(replaced(base, "\"progress\": 100", "\"progress\": \"100\"")),
                 JsonError);
    EXPECT_THROW(
        decodeServerMeeting(replaced(base, "\"evidence_ids\": [1, 3]", "\"evidence_ids\": [1, null]")),
        JsonError);
    // A whole number written with a zero fraction is still a whole number.
    EXPECT_EQ(decodeServerMeeting(replaced(base, "\"progress\": 100", "\"progress\": 100.0")).progress, 100);
}

TEST(MeetingResult, RejectsMalformedJson) {
    for (const char* bad : {"", "{", "[]", "{\"id\": \"x\"", "{\"a\": 01}", "{\"a\": \"\t\"}",
                            "{\"a\": \"\\x\"}", "{\"a\": \"\\ud800\"}", "{} {}", "{\"a\": tru}"}) {
        EXPECT_THROW(decodeServerMeeting(bad), JsonError) << bad;
    }
}

TEST(MeetingResult, EncodingRoundTripsAndLeavesEmptyOptionalsOut) {
    ServerMeeting meeting = decodeServerMeeting(kMeeting);
    const std::string encoded = encodeServerMeeting(meeting);
    EXPECT_EQ(encoded.find("\"error\""), std::string::npos);
    EXPECT_EQ(encoded.find("\"note\""), std::string::npos);
    EXPECT_EQ(encoded.find("\"extra\""), std::string::npos);
    EXPECT_NE(encoded.find("\"evidence_ids\":[1,3]"), std::string::npos);
    EXPECT_EQ(decodeServerMeeting(encoded), meeting);

    // Validation accepts what decoding accepts and refuses what it refuses.
    const std::string result = encodeMeetingResult(*meeting.result);
    JsonReader good(result);
    EXPECT_NO_THROW(validateMeetingResult(good));
    const std::string broken = replaced(result, "\"language\":\"ru\",", "");
    JsonReader bad(broken);
    EXPECT_THROW(validateMeetingResult(bad), JsonError);
}

TEST(MeetingResult, DecodesAList) {
    const std::string list = std::string("[") + kMeeting + "," + kMeeting + "]";
    EXPECT_EQ(decodeServerMeetingList(list).size(), 2u);
    EXPECT_TRUE(decodeServerMeetingList(" [ ] ").empty());
    EXPECT_THROW(decodeServerMeetingList(kMeeting), JsonError);
}

TEST(MeetingResult, NestingIsBoundedWhereverItHides) {
    auto nested = [](std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); };
    const std::string base = kMeeting;
    EXPECT_NO_THROW(decodeServerMeeting(replaced(base, "[1, 2]", nested(200))));
    // 80,000 levels (160 KB) in an unknown key once ended in a stack overflow.
    EXPECT_THROW(decodeServerMeeting(replaced(base, "[1, 2]", nested(80'000))), JsonError);
    EXPECT_THROW(decodeServerMeetingList("[" + replaced(base, "[1, 2]", nested(JsonReader::kMaxDepth)) + "]"),
                 JsonError);
    std::string result = encodeMeetingResult(*decodeServerMeeting(base).result);
    result.insert(1, "\"x\":" + std::string(5000, '{') + std::string(5000, '}') + ",");
    JsonReader reader(result);
    EXPECT_THROW(validateMeetingResult(reader), JsonError);
}

TEST(MeetingResult, ExtremeNumbersAreBoundedAndLongTextsCut) {
    std::string json = replaced(kMeeting, "1700000000.5", "1e308");
    json = replaced(json, "\"start\": 0", "\"start\": -1e308");
    json = replaced(json, "95.5", "1.7976931348623157e308");
    json = replaced(json, "Планёрка", std::string(5000, 'x'));
    json = replaced(json, "\"error\": null", "\"error\": \"" + std::string(3000, 'e') + "\"");
    const ServerMeeting meeting = decodeServerMeeting(json);
    EXPECT_EQ(meeting.created, kTimeLimitSeconds);
    EXPECT_EQ(meeting.result->segments[0].start, 0.0);
    EXPECT_EQ(meeting.result->duration, kLongestAudioSeconds);
    EXPECT_EQ(meeting.title, std::string(TextLimit::title - 1, 'x') + "…");
    EXPECT_EQ(meeting.error->size(), TextLimit::message - 1 + std::string("…").size());
    EXPECT_THROW(decodeServerMeeting(replaced(kMeeting, "1700000000.5", "1e309")), JsonError);

    // Cut by characters, never inside one.
    EXPECT_EQ(boundedText("Привет", 3), "Пр…");
    EXPECT_EQ(boundedText("Привет", 6), "Привет");
    EXPECT_EQ(boundedText(boundedText("Привет", 3), 3), "Пр…");
}

TEST(MeetingResult, MeetingIdsAndClientIds) {
    EXPECT_TRUE(isMeetingID("0123456789abcdefABCDEF0123456789"));
    const std::string_view bad[] = {"0123456789abcdef0123456789abcde", "../x", "/abs",
                                    "0123456789abcdef0123456789abcdeg",
                                    std::string_view("0123456789abcdef\0"
                                                     "123456789abcdef",
                                                     32)};
    for (std::string_view id : bad)
        EXPECT_FALSE(isMeetingID(id)) << id;

    const Uuid id = Uuid::random();
    const std::string withClient =
        replaced(kMeeting, "\"progress\"", "\"client_id\": \"" + id.toString() + "\", \"progress\"");
    EXPECT_EQ(decodeServerMeeting(withClient).clientID, id);
    EXPECT_EQ(decodeServerMeeting(encodeServerMeeting(decodeServerMeeting(withClient))).clientID, id);
    EXPECT_FALSE(decodeServerMeeting(replaced(withClient, id.toString(), "../x")).clientID);
}

TEST(MeetingResult, NoteIdentity) {
    NoteItem item{"T", {3, 12}, std::nullopt, std::nullopt};
    EXPECT_EQ(item.identity(), "T3,12");
    item.evidenceIds.clear();
    EXPECT_EQ(item.identity(), "T");
}

TEST(Json, StringsAreScannedExactlyAtEveryOffset) {
    // The scans take sixteen bytes at a time: what ends a run must be found wherever it falls.
    for (std::size_t n = 0; n < 40; ++n) {
        const std::string plain(n, 'a');
        const std::string escapedText = "\"" + plain + "\\n" + plain + "\"";
        EXPECT_EQ(JsonReader(escapedText).readString(), plain + "\n" + plain) << n;
        const std::string controlText = "\"" + plain + "\x01" + plain + "\"";
        EXPECT_THROW(JsonReader(controlText).readString(), JsonError) << n;
    }

    // The fast UTF-8 check agrees with the sequence rules (what replaceInvalidUtf8 keeps) on runs
    // of every kind of sequence, sound or not, at every alignment.
    const char* const pieces[] = {"a",
                                  "я",
                                  "€",
                                  "\xF0\x9F\x98\x80",
                                  "\xC0\x80",
                                  "\xC1\xBF",
                                  "\x80",
                                  "\xD0",
                                  "\xED\xA0\x80",
                                  "\xF4\x90\x80\x80",
                                  "\xE2\x82",
                                  "\n",
                                  "ёж",
                                  "\xFF",
                                  "Съешь"};
    std::uint64_t seed = 7;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int count = round % 40;
        for (int i = 0; i < count; ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            const std::size_t index = (seed >> 33) % std::size(pieces);
            // Sound pieces are much more common, so that long valid runs occur.
            text += (seed >> 40) % 8 == 0 || index < 4 || index == 11 || index >= 12 ? pieces[index] : "ы";
        }
        ASSERT_EQ(isValidUtf8(text), replaceInvalidUtf8(text) == text) << text;
    }
}
