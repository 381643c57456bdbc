#include "library/LocalRecording.h"

#include "core/Json.h"
#include "library/LibraryTexts.h"

#include <cmath>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace parlo {

StoredResult::StoredResult(MeetingResult result) : text_(encodeMeetingResult(result)), json_(text_) {
    std::call_once(decodeOnce_, [&] { value_ = std::move(result); });
}

std::shared_ptr<const StoredResult> StoredResult::fromValidatedJson(std::string json) {
    std::shared_ptr<StoredResult> stored(new StoredResult);
    stored->text_ = std::move(json);
    stored->json_ = stored->text_;
    return stored;
}

std::shared_ptr<const StoredResult> StoredResult::fromValidatedRange(std::shared_ptr<const void> owner,
                                                                     std::string_view json) {
    std::shared_ptr<StoredResult> stored(new StoredResult);
    stored->owner_ = std::move(owner);
    stored->json_ = json;
    return stored;
}

const MeetingResult& StoredResult::value() const {
    std::call_once(decodeOnce_, [this] {
        JsonReader reader(json_);
        value_ = decodeMeetingResult(reader);
        releasePages(); // the decoded copy is what is read from now on
    });
    return *value_;
}

void StoredResult::releasePages() const {
    if (!owner_)
        return;
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(json_.data());
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t end = (begin + json_.size()) / page * page;
    if (end > first)
        // The mapping is read-only and private, so its pages are the file's and dropping them loses nothing.
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

std::string LocalRecording::statusLabel() const {
    if (status == "recording")
        return LibraryText::statusRecording;
    if (status == "local")
        return LibraryText::statusSending;
    if (status == "waiting_login")
        return LibraryText::statusWaitingLogin;
    if (status == "queued")
        return LibraryText::statusQueued;
    if (status == "uploading")
        return LibraryText::statusSending;
    if (status == "processing")
        return LibraryText::statusProcessing;
    if (status == "done")
        return LibraryText::statusDone;
    if (status == "error")
        return LibraryText::statusNeedsCheck;
    return stage;
}

bool operator==(const LocalRecording& a, const LocalRecording& b) {
    auto sameResult = [](const ResultPointer& x, const ResultPointer& y) {
        if (x == y)
            return true;
        if (!x || !y)
            return false;
        return x->json() == y->json();
    };
    return a.id == b.id && a.title == b.title && a.created == b.created && a.folderName == b.folderName &&
           a.fileName == b.fileName && a.status == b.status && a.remoteID == b.remoteID &&
           a.stage == b.stage && a.progress == b.progress && a.duration == b.duration && a.error == b.error &&
           sameResult(a.result, b.result) && a.source == b.source;
}

namespace {

enum RequiredKey : std::uint32_t {
    kId = 1,
    kTitle = 2,
    kCreated = 4,
    kStatus = 8,
    kStage = 16,
    kProgress = 32,
    kSource = 64,
    kAllRequired = 127,
};

ResultPointer readResult(JsonReader& in, const LibraryBacking* backing) {
    const std::size_t start = in.position();
    const std::size_t repairedBefore = in.repairedStrings();
    validateMeetingResult(in);
    const std::string_view text = in.text().substr(start, in.position() - start);
    if (in.repairedStrings() != repairedBefore) {
        // Bytes that are not UTF-8 would be written back as they are: keep the repaired result instead.
        JsonReader again(text);
        return std::make_shared<const StoredResult>(decodeMeetingResult(again));
    }
    if (backing)
        return StoredResult::fromValidatedRange(backing->owner, text);
    return StoredResult::fromValidatedJson(std::string(text));
}

LocalRecording readRecording(JsonReader& in, const LibraryBacking* backing) {
    LocalRecording record;
    std::uint32_t seen = 0;
    auto optionalString = [&in](std::optional<std::string>& out) {
        if (in.readNull())
            out.reset();
        else
            out = in.readString();
    };
    in.readObject([&](std::string_view key) {
        if (key == "id") {
            auto id = Uuid::parse(in.readString());
            if (!id)
                in.fail("invalid UUID");
            record.id = *id;
            seen |= kId;
        } else if (key == "title") {
            record.title = in.readString();
            seen |= kTitle;
        } else if (key == "created") {
            record.created = boundedTime(in.readDouble());
            seen |= kCreated;
        } else if (key == "folderName") {
            optionalString(record.folderName);
        } else if (key == "fileName") {
            optionalString(record.fileName);
        } else if (key == "status") {
            record.status = in.readString();
            seen |= kStatus;
        } else if (key == "remoteID") {
            optionalString(record.remoteID);
        } else if (key == "stage") {
            record.stage = in.readString();
            seen |= kStage;
        } else if (key == "progress") {
            record.progress = in.readInteger();
            seen |= kProgress;
        } else if (key == "duration") {
            if (in.readNull())
                record.duration.reset();
            else
                record.duration = boundedAudioSeconds(in.readDouble());
        } else if (key == "error") {
            optionalString(record.error);
        } else if (key == "result") {
            if (in.readNull())
                record.result.reset();
            else
                record.result = readResult(in, backing);
        } else if (key == "source") {
            record.source = in.readString();
            seen |= kSource;
        } else {
            in.skipValue();
        }
    });
    if ((seen & kAllRequired) != kAllRequired)
        in.fail("a required key is missing");
    return record;
}

bool staysInItsFolder(const LocalRecording& record) {
    return (!record.folderName || isPlainFileName(*record.folderName)) &&
           (!record.fileName || isPlainFileName(*record.fileName)) &&
           (!record.remoteID || isMeetingID(*record.remoteID));
}

} // namespace

bool isPlainFileName(std::string_view name) {
    return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

namespace {

void decodeLibraryInto(std::string_view json, std::vector<LocalRecording>& items,
                       std::vector<std::string>* rejected, const LibraryBacking* backing) {
    JsonReader reader(json);
    reader.skipSpace();
    reader.readArray([&] {
        const std::size_t start = reader.position();
        LocalRecording record = readRecording(reader, backing);
        if (staysInItsFolder(record))
            items.push_back(std::move(record));
        else if (rejected)
            rejected->emplace_back(json.substr(start, reader.position() - start));
        if (backing && backing->passed)
            backing->passed(reader.position());
    });
    reader.finish();
}

} // namespace

std::vector<LocalRecording> decodeLibrary(std::string_view json, std::vector<std::string>* rejected) {
    std::vector<LocalRecording> items;
    decodeLibraryInto(json, items, rejected, nullptr);
    return items;
}

bool decodeLibraryUntilDamage(std::string_view json, std::vector<LocalRecording>& items,
                              std::vector<std::string>* rejected, const LibraryBacking* backing) {
    try {
        decodeLibraryInto(json, items, rejected, backing);
        return false;
    } catch (const std::exception&) {
        return true;
    }
}

void encodeRecording(std::string& out, const LocalRecording& r) {
    JsonWriter w(out);
    auto optionalString = [&w](const char* key, const std::optional<std::string>& value) {
        if (value) {
            w.key(key);
            w.string(*value);
        }
    };
    w.beginObject();
    w.key("id");
    w.string(r.id.toString());
    w.key("title");
    w.string(r.title);
    w.key("created");
    w.number(r.created);
    optionalString("folderName", r.folderName);
    optionalString("fileName", r.fileName);
    w.key("status");
    w.string(r.status);
    optionalString("remoteID", r.remoteID);
    w.key("stage");
    w.string(r.stage);
    w.key("progress");
    w.integer(r.progress);
    // A length that is not a number has no JSON form; it is better unknown than invented.
    if (r.duration && std::isfinite(*r.duration)) {
        w.key("duration");
        w.number(*r.duration);
    }
    optionalString("error", r.error);
    if (r.result) {
        w.key("result");
        w.raw(r.result->json());
    }
    w.key("source");
    w.string(r.source);
    w.endObject();
}

std::string encodeLibrary(const std::vector<LocalRecording>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += ',';
        encodeRecording(out, items[i]);
    }
    out += ']';
    return out;
}

} // namespace parlo
