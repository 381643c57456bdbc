#include "detection/SnapshotJson.h"

#include "core/Json.h"

namespace parlo {

namespace {

// Reads one snapshot object: `onKey` consumes the values it knows and reports whether it knew the
// key; unknown keys are skipped. Every name in `required` must have been seen.
template <typename OnKey>
void readSnapshot(std::string_view text, std::initializer_list<std::string_view> required, OnKey onKey) {
    std::uint32_t seen = 0;
    const bool isObject = readJsonObject(text, [&](JsonReader& in, std::string_view key) {
        std::uint32_t bit = 1;
        for (std::string_view name : required) {
            if (name == key) {
                onKey(in, key);
                seen |= bit;
                return;
            }
            bit <<= 1;
        }
        in.skipValue();
    });
    if (!isObject)
        throw JsonError("snapshot is not a JSON object");
    if (seen != (1u << required.size()) - 1)
        throw JsonError("snapshot lacks a key");
}

void writeNames(JsonWriter& out, const std::vector<std::string>& names) {
    out.beginArray();
    for (const std::string& name : names) {
        // Names come from the sound server's clients; JSON has no form for bytes that are not UTF-8.
        if (!isValidUtf8(name))
            throw JsonError("an application name is not UTF-8");
        out.element();
        out.string(name);
    }
    out.endArray();
}

} // namespace

std::string encodeSnapshot(const CallActivitySnapshot& snapshot) {
    std::string json;
    JsonWriter out(json);
    out.beginObject();
    out.key("active");
    out.boolean(snapshot.active);
    out.key("applications");
    writeNames(out, snapshot.applications);
    out.key("probeAvailable");
    out.boolean(snapshot.probeAvailable);
    out.endObject();
    return json;
}

std::string encodeSnapshot(const ZoomSnapshot& snapshot) {
    std::string json;
    JsonWriter out(json);
    out.beginObject();
    out.key("running");
    out.boolean(snapshot.running);
    out.key("inputActive");
    out.boolean(snapshot.inputActive);
    out.key("outputActive");
    out.boolean(snapshot.outputActive);
    out.key("processCount");
    out.integer(snapshot.processCount);
    out.key("probeAvailable");
    out.boolean(snapshot.probeAvailable);
    out.endObject();
    return json;
}

CallActivitySnapshot decodeCallActivitySnapshot(std::string_view text) {
    CallActivitySnapshot snapshot;
    readSnapshot(text, {"active", "applications", "probeAvailable"},
                 [&](JsonReader& in, std::string_view key) {
                     if (key == "active") {
                         snapshot.active = in.readBool();
                     } else if (key == "applications") {
                         snapshot.applications.clear();
                         in.readArray([&] { snapshot.applications.push_back(in.readString()); });
                     } else {
                         snapshot.probeAvailable = in.readBool();
                     }
                 });
    return snapshot;
}

ZoomSnapshot decodeZoomSnapshot(std::string_view text) {
    ZoomSnapshot snapshot;
    readSnapshot(text, {"running", "inputActive", "outputActive", "processCount", "probeAvailable"},
                 [&](JsonReader& in, std::string_view key) {
                     if (key == "running")
                         snapshot.running = in.readBool();
                     else if (key == "inputActive")
                         snapshot.inputActive = in.readBool();
                     else if (key == "outputActive")
                         snapshot.outputActive = in.readBool();
                     else if (key == "processCount")
                         snapshot.processCount = in.readInteger();
                     else
                         snapshot.probeAvailable = in.readBool();
                 });
    return snapshot;
}

} // namespace parlo
